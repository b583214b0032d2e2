// The core speaks UTF-8 (texts, names and paths alike); Qt speaks QString. Every
// conversion in the window goes through these two.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace lorvex::ui {

inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace lorvex::ui
