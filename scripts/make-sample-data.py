#!/usr/bin/env python3
"""Writes lorvex's sample data files (data/): two category lists and two category maps.

The output is fixed by the seed, so running it again gives the same files.
Usage: scripts/make-sample-data.py [output-directory]
"""
import random
import sys
from pathlib import Path

FULL_CATEGORIES = [
    "Music / Jazz", "Music / Classical", "Music / Rock", "Music / Electronic",
    "Books / Fiction", "Books / Science", "Photos / Travel", "Photos / Family",
    "Software / Utilities", "Software / Games", "Documents / Manuals",
    "Letters, Invoices and Receipts", "Video / Lectures", "Fonts",
]
SIMPLE_OF = {c: c.split(" / ")[0] for c in FULL_CATEGORIES}
SIMPLE_OF["Letters, Invoices and Receipts"] = "Paperwork"
SIMPLE_OF["Documents / Manuals"] = "Paperwork"
SIMPLE_OF["Fonts"] = "Software"

WORDS = {
    "Music": (["Blue Harbor", "Nightjar", "Copper Lake", "Velvet Static", "Orla Brenn",
               "The Quiet Hours", "Saltmarsh", "Ivo Kettering", "Northbound", "Lumen Trio"],
              ["Night Ferries", "Slow Tide", "Live at the Granary", "Winter Sessions",
               "Second Light", "Paper Lanterns", "Field Notes", "Elsewhere", "Low Country",
               "The Long Room"]),
    "Books": (["Anselm Ward", "Mira Castell", "T. H. Oakes", "Ruth Penhale", "Jonas Veck"],
              ["The Glass Orchard", "A Short History of Tides", "Lighthouse Keepers",
               "On Measuring Things", "The Cartographer", "Small Engines", "Rain Country"]),
    "Photos": (["Lisbon", "Tromso", "Kyoto", "Harz", "Valparaiso", "Grandma", "Summer",
                "Wedding", "Garden"], ["2014", "2016", "2018", "2019", "2021", "2023"]),
    "Software": (["tidy-notes", "quickrename", "diskmeter", "pixelforge", "tinyterm",
                  "Moon Lander", "Brick Garden", "Orbit Chess", "Sans Grotesk", "Mono Slab"],
                 ["1.0", "1.2", "2.0", "2.3.1", "3.0", "4.1"]),
    "Documents": (["Washer WM-204", "Router AX3", "Camera Z50", "Bicycle Hub", "Oven"],
                  ["manual", "quick start", "service guide"]),
    "Paperwork": (["Electricity", "Insurance", "Tax", "Landlord", "Dentist", "Garage"],
                  ["2019", "2020", "2021", "2022", "2023", "2024"]),
    "Video": (["Linear Algebra", "Bread Baking", "Watercolour", "Compilers", "Astronomy"],
              ["Lecture 01", "Lecture 02", "Lecture 03", "Week 4", "Finale"]),
}


def family(category):
    top = category.split(" / ")[0]
    if category.startswith("Letters"):
        return "Paperwork"
    if category == "Fonts":
        return "Software"
    return top


def make_name(rng, category):
    firsts, seconds = WORDS[family(category)]
    style = rng.randrange(3)
    a, b = rng.choice(firsts), rng.choice(seconds)
    if style == 0:
        return f"{a} - {b}"
    if style == 1:
        return f"{a}_{b}".replace(" ", "_")
    return f"{a} {b}"


def entries(rng, count):
    seen = set()
    result = []
    while len(result) < count:
        category = rng.choice(FULL_CATEGORIES)
        name = make_name(rng, category)
        if name in seen:
            name = f"{name} ({len(result)})"
        seen.add(name)
        result.append((name, category))
    return result


def write_map(path, title, main, added, simple):
    lines = [f"; lorvex category map: {title}",
             "; one archive per line: name=category (the archive is name.zip)",
             "[Catalogue]"]
    by_family = {}
    for name, category in main:
        by_family.setdefault(family(category), []).append((name, category))
    for fam, items in by_family.items():
        lines += ["", f"[{fam}]", f"; {len(items)} archives"]
        for name, category in items:
            lines.append(f"{name}={SIMPLE_OF[category] if simple else category}")
    lines += ["", "[VerAdded]", "; entries below were added later and are not sorted yet"]
    lines += [f"{n}={SIMPLE_OF[c] if simple else c}" for n, c in added]
    path.write_text("\r\n".join(lines) + "\r\n", encoding="utf-8", newline="")


def write_list(path, categories):
    quoted = [f'"{c}"' if "," in c else c for c in categories]
    path.write_text("\r\n".join(quoted) + "\r\n", encoding="utf-8", newline="")


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "data")
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(20261207)
    main_entries = entries(rng, 320)
    added = entries(rng, 40)
    write_map(out / "lorvex.ini", "full lists", main_entries, added, simple=False)
    write_map(out / "lorvex2.ini", "simple lists", main_entries, added, simple=True)
    write_list(out / "cats.txt", FULL_CATEGORIES)
    simple = list(dict.fromkeys(SIMPLE_OF[c] for c in FULL_CATEGORIES))
    write_list(out / "cats2.txt", simple)


if __name__ == "__main__":
    main()
