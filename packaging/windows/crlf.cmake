# Copies a text file with Windows line ends (CR LF), for Notepad and friends.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<file> -P crlf.cmake
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
