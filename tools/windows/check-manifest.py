#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the application manifest embedded in Windows programs.

check-manifest.py EXE|ZIP...            (a zip: every .exe in it)
check-manifest.py --setup SETUP UNINSTALLER...

Each program must carry exactly one manifest, as resource 1 of type
RT_MANIFEST (a second one, say a toolchain's default, would leave it to
chance which Windows reads), that asks to run as the invoking user
(asInvoker, which also turns off the redirection of writes into the
VirtualStore), names Windows 7 to 11 as supported, and declares no DPI
awareness: Qt sets that itself when it starts.

With --setup, the setup program and its uninstaller: the same manifest, but
DPI aware (nothing else declares it for them, and Windows would blur them),
and each a GUI program for the same machine, with version information.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zipfile

RT_VERSION = 16
RT_MANIFEST = 24
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


def pe_offset(data):
    """Where a PE file's own header starts, past the DOS stub."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    return pe


def header(data):
    """(machine, subsystem) of a PE file."""
    pe = pe_offset(data)
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
    return machine, subsystem


def resources(data, wanted):
    """[(resource id, language, bytes)] of every resource of type wanted in a PE file."""
    pe = pe_offset(data)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if resource_rva == 0:
        return []

    def offset_of(rva):
        for i in range(sections):
            at = optional + optional_size + 40 * i
            virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw
        raise ValueError("RVA %#x lies in no section" % rva)

    base = offset_of(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    found = []
    for type_id, types in entries(0):
        if type_id != wanted or not types & 0x80000000:
            continue
        for resource_id, languages in entries(types & 0x7FFFFFFF):
            if not languages & 0x80000000:
                continue
            for language, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = offset_of(rva)
                found.append((resource_id, language, data[start:start + size]))
    return found


def problems(data, setup=False):
    found = resources(data, RT_MANIFEST)
    if len(found) != 1:
        return ["%d manifests, not one" % len(found)]
    resource_id, _, text = found[0]
    if resource_id != 1:
        return ["the manifest is resource %d, not 1" % resource_id]
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return ["the manifest is not well-formed XML: %s" % error]
    local = {}
    for element in root.iter():
        local.setdefault(element.tag.rsplit("}", 1)[-1], []).append(element)
    wrong = []
    levels = [e.get("level") for e in local.get("requestedExecutionLevel", [])]
    if levels != ["asInvoker"]:
        wrong.append("execution levels %s, not asInvoker alone" % levels)
    systems = {e.get("Id", "").lower() for e in local.get("supportedOS", [])}
    if systems != SUPPORTED_OS:
        wrong.append("supported systems %s, not Windows 7 to 11" % sorted(systems))
    if setup:
        aware = [e.text.strip().lower() for e in local.get("dpiAware", []) if e.text]
        if aware != ["true"]:
            wrong.append("DPI awareness %s, not true" % aware)
        if header(data)[1] != IMAGE_SUBSYSTEM_WINDOWS_GUI:
            wrong.append("not a GUI program")
        if not resources(data, RT_VERSION):
            wrong.append("no version information")
    else:
        for tag in ("dpiAware", "dpiAwareness"):
            if tag in local:
                wrong.append("declares %s, which is Qt's to set" % tag)
    return wrong


def programs(path):
    """(name, bytes) of the program at path, or of each program in the zip at path."""
    if not path.endswith(".zip"):
        with open(path, "rb") as f:
            return [(path, f.read())]
    with zipfile.ZipFile(path) as archive:
        return [(path + ":" + name, archive.read(name)) for name in archive.namelist()
                if name.lower().endswith(".exe")]


def main():
    arguments = sys.argv[1:]
    setup = arguments[:1] == ["--setup"]
    if setup:
        arguments = arguments[1:]
    if not arguments:
        print("usage: check-manifest.py EXE|ZIP... | --setup SETUP UNINSTALLER...", file=sys.stderr)
        return 2
    failed = False
    machines = set()
    for path in arguments:
        try:
            found = programs(path)
        except (OSError, zipfile.BadZipFile) as error:
            print("%s: %s" % (path, error), file=sys.stderr)
            failed = True
            continue
        if not found:
            print("%s: no programs in it" % path, file=sys.stderr)
            failed = True
        for name, data in found:
            try:
                wrong = problems(data, setup)
                machines.add(header(data)[0])
            except (ValueError, KeyError, struct.error) as error:
                wrong = ["cannot be read as a Windows program: %s" % error]
            for problem in wrong:
                print("%s: %s" % (name, problem), file=sys.stderr)
            failed = failed or bool(wrong)
    if setup and len(machines) > 1:
        print("the setup program and its uninstaller are for different machines", file=sys.stderr)
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
