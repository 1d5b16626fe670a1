#!/usr/bin/env python3
"""Checks tvtuner.inf against what the driver reads: every board installs the
image, the service and the KSCATEGORY_TVTUNER interface, and writes only the
configuration values the driver knows, as strings it can parse."""
import argparse
import re
import sys

CONFIGURATION_VALUES = {"EEPROMAddr", "TunerType", "Address", "InterCarrierMode", "DefaultStandard"}
INTEGER_VALUES = CONFIGURATION_VALUES - {"TunerType"}
# The driver reads each value into 64 bytes: 31 characters and the terminator.
MAX_VALUE_CHARACTERS = 31
FLG_ADDREG_TYPE_SZ = 0


def parse_inf(text):
    """{section name in lower case: [line, ...]} with comments removed."""
    sections, current = {}, None
    for raw in text.splitlines():
        line = re.sub(r'\s*;(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
        if not line:
            continue
        header = re.fullmatch(r"\[([^\]]+)\]", line)
        if header:
            current = sections.setdefault(header.group(1).strip().lower(), [])
        elif current is not None:
            current.append(line)
    return sections


def directives(lines):
    """{key in lower case: [value, ...]} of 'key = value' lines."""
    result = {}
    for line in lines:
        if "=" in line:
            key, value = line.split("=", 1)
            result.setdefault(key.strip().lower(), []).append(value.strip())
    return result


def fields(value):
    return [f.strip().strip('"') for f in value.split(",")]


def parses_with_automatic_base(text):
    """The driver's integer rule: blanks around an optional 0x, 0o or 0b
    prefix (lower case) and digits of that base, within 32 bits."""
    match = re.fullmatch(r"[ \t]*(?:0x([0-9A-Fa-f]+)|0o([0-7]+)|0b([01]+)|([0-9]+))[ \t]*", text)
    if match is None:
        return False
    digits, base = next((d, b) for d, b in zip(match.groups(), (16, 8, 2, 10)) if d is not None)
    return int(digits, base) <= 0xFFFFFFFF


def check(inf_text, model_names, category_guid):
    errors = []
    sections = parse_inf(inf_text)
    strings = {k.lower(): fields(v[0])[0] for k, v in directives(sections.get("strings", [])).items()}

    def resolve(token):
        match = re.fullmatch(r"%([^%]+)%", token.strip())
        return strings.get(match.group(1).lower(), token) if match else token.strip().strip('"')

    def section(name, why):
        lines = sections.get(name.lower())
        if lines is None:
            errors.append(f"[{name}] ({why}) is missing")
        return lines or []

    version = directives(section("Version", "header"))
    if [resolve(c) for c in version.get("class", [])] != ["Media"]:
        errors.append("[Version] Class is not Media")

    manufacturer = directives(section("Manufacturer", "models"))
    models = []
    for value in (v for values in manufacturer.values() for v in values):
        name, *decorations = fields(value)
        if "NTx86" not in decorations:
            errors.append(f"models section {name} is not decorated for NTx86")
        models += section(f"{name}.NTx86", "models")
    if not models:
        errors.append("no board is listed")

    for model in models:
        description, install_and_ids = model.split("=", 1)
        install, *hardware_ids = fields(install_and_ids)
        if not hardware_ids:
            errors.append(f"{install}: no hardware ID")
        ddinstall = f"{install}.NTx86"
        install_section = directives(section(ddinstall, f"install section of {resolve(description)}"))
        if not any("tvtuner.sys" in (line.lower() for line in sections.get(c.lower(), []))
                   for v in install_section.get("copyfiles", []) for c in fields(v)):
            errors.append(f"[{ddinstall}] does not copy tvtuner.sys")

        values = {}
        for addreg in (s for v in install_section.get("addreg", []) for s in fields(v)):
            for line in section(addreg, f"registry of {install}"):
                root, subkey, name, flags, *data = fields(line)
                if root.upper() != "HKR" or subkey:
                    errors.append(f"[{addreg}] {name}: not in the driver key (HKR)")
                if name not in CONFIGURATION_VALUES:
                    errors.append(f"[{addreg}] {name}: the driver reads no such value")
                    continue
                if int(flags or "0", 0) != FLG_ADDREG_TYPE_SZ:
                    errors.append(f"[{addreg}] {name}: not a string value")
                text = data[0] if data else ""
                if len(text) > MAX_VALUE_CHARACTERS:
                    errors.append(f"[{addreg}] {name}: longer than {MAX_VALUE_CHARACTERS} characters")
                if name in INTEGER_VALUES and not parses_with_automatic_base(text):
                    errors.append(f"[{addreg}] {name}: '{text}' is not an integer")
                values[name] = text
        if "Address" not in values:
            errors.append(f"{install}: no Address")
        if "EEPROMAddr" not in values:
            if "TunerType" not in values:
                errors.append(f"{install}: neither TunerType nor EEPROMAddr")
            elif values["TunerType"].lower() not in (n.lower() for n in model_names):
                errors.append(f"{install}: TunerType '{values['TunerType']}' is not a catalogue name")

        interfaces = directives(section(f"{ddinstall}.Interfaces", f"interfaces of {install}"))
        categories = [resolve(fields(v)[0]).lower() for v in interfaces.get("addinterface", [])]
        if category_guid.lower() not in categories:
            errors.append(f"[{ddinstall}.Interfaces] does not add the KSCATEGORY_TVTUNER interface")

        services = directives(section(f"{ddinstall}.Services", f"service of {install}"))
        for value in services.get("addservice", []):
            service_name, flags, service_section = fields(value)[:3]
            if int(flags, 0) & 0x2 == 0:
                errors.append(f"[{ddinstall}.Services] {service_name} is not the function driver")
            binary = directives(section(service_section, "service")).get("servicebinary", [""])[0]
            if not binary.lower().endswith("\\tvtuner.sys"):
                errors.append(f"[{service_section}] ServiceBinary is not tvtuner.sys")
        if not services.get("addservice"):
            errors.append(f"[{ddinstall}.Services] adds no service")
    return errors


def read_model_names(source):
    """The catalogue names from the driver's name table."""
    return re.findall(r'u"([^"]+)"', source)


def read_category_guid(header):
    """KSCATEGORY_TVTUNER as registry text, from the platform declaration."""
    match = re.search(r"KSCATEGORY_TVTUNER\s*=\s*\{([^;]*)\};", header, re.S)
    numbers = [int(n, 16) for n in re.findall(r"0x([0-9A-Fa-f]+)", match.group(1))]
    d1, d2, d3, *d4 = numbers
    return "{%08x-%04x-%04x-%s-%s}" % (d1, d2, d3, bytes(d4[:2]).hex(), bytes(d4[2:]).hex())


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("inf")
    parser.add_argument("model_names", help="tuner/ModelNames.cpp")
    parser.add_argument("kernel_streaming", help="platform/KernelStreaming.h")
    args = parser.parse_args()
    with open(args.inf, encoding="utf-8") as f:
        inf = f.read()
    with open(args.model_names, encoding="utf-8") as f:
        names = read_model_names(f.read())
    with open(args.kernel_streaming, encoding="utf-8") as f:
        category = read_category_guid(f.read())
    errors = check(inf, names, category)
    for error in errors:
        print(f"{args.inf}: {error}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
