#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the notices of Qt's third-party code from Qt's attribution files.

Usage: notices.py OUTPUT DIR...
Each DIR holds a qt_attribution.json and the licence files it names. Qt's
files are loose JSON (line breaks inside strings, repeated keys), hence
strict=False; for a repeated key the last value counts, as in Qt's own tool.
"""
import json
import os
import sys


def entries(directory):
    with open(os.path.join(directory, "qt_attribution.json"), encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    return data if isinstance(data, list) else [data]


def main():
    output, directories = sys.argv[1], sys.argv[2:]
    parts = ["Third-party code in Qt, linked into the Orvex programs\n"
             "=======================================================\n"]
    for directory in directories:
        for entry in entries(directory):
            files = entry.get("LicenseFiles") or [entry.get("LicenseFile")]
            text = [f"{entry['Name']} {entry.get('Version', '')}".rstrip(),
                    "-" * 72]
            if entry.get("QtUsage"):
                text.append(entry["QtUsage"])
            if entry.get("Homepage"):
                text.append("Homepage: " + entry["Homepage"])
            text.append("License: " + entry.get("License", ""))
            text.append("")
            text.append(entry.get("Copyright", "").strip())
            for name in filter(None, files):
                with open(os.path.join(directory, name), encoding="utf-8",
                          errors="replace") as f:
                    text += ["", f.read().strip()]
            parts.append("\n".join(text) + "\n\n")
    with open(output, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
