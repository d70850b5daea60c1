#!/usr/bin/env python3
"""Build step of the automation object: everything that must agree with the IDL.

Usage: idl_members.py IDL RGS_TEMPLATE OUTDIR

Reads the interfaces IZelpostCom (the classic one) and IZelpostCom2 (derived
from it), the library, class and event identifiers from IDL (UTF-8) and
writes into OUTDIR/automation/:
  zelpost_members.h  the identifiers, the function tables of both interfaces
                     and the member table (IZelpostCom's members, then
                     IZelpostCom2's) with one call per member, from which
                     the POSIX build answers GetIDsOfNames and Invoke;
  zelpost.rgs        the registration script, RGS_TEMPLATE with @CLSID@ and
                     @LIBID@ filled in;
  zelpost.idl        a Shift-JIS copy of IDL for widl (help strings are
                     read back in code page 932).
Anything in the interface that this script does not understand is an error.
"""
import pathlib
import re
import sys

FIRST_SLOT = 7  # IUnknown (3) and IDispatch (4) come first
MAX_ARGUMENTS = 6
# IDL type: member table type, C++ type, field of Value.
C_TYPES = {"BSTR": ("kText", "Bstr", "text"), "long": ("kNumber", "std::int32_t", "number")}


def fail(message):
    sys.exit(f"idl_members.py: {message}")


def attributes_before(text, keyword):
    match = re.search(r"\[([^\[\]]*)\]\s*" + keyword, text)
    if not match:
        fail(f"no attribute block before '{keyword}'")
    return match.group(1)


def uuid_of(attributes):
    match = re.search(r"uuid\(([0-9A-Fa-f-]{36})\)", attributes)
    if not match:
        fail(f"no uuid in [{attributes}]")
    return match.group(1).upper()


def split_top(text):
    """Splits at commas outside brackets."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        depth += c == "["
        depth -= c == "]"
        if c == "," and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    parts.append(text[start:])
    return [p.strip() for p in parts if p.strip()]


def parse_members(body):
    members = []
    pattern = re.compile(r"\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\(([^)]*)\)\s*;", re.S)
    consumed = 0
    for match in pattern.finditer(body):
        if body[consumed:match.start()].strip():
            fail(f"unexpected text in the interface: {body[consumed:match.start()].strip()[:60]}")
        consumed = match.end()
        attrs, name, params = match.groups()
        attr_list = split_top(attrs)
        ident = [a for a in attr_list if a.startswith("id(")]
        help_string = [a for a in attr_list if a.startswith("helpstring(")]
        if len(ident) != 1 or len(help_string) != 1:
            fail(f"{name}: needs one id() and one helpstring()")
        kind = "kPropertyGet" if "propget" in attr_list else "kPropertyPut" if "propput" in attr_list else "kMethod"
        arguments, result = [], None
        for param in split_top(params):
            pm = re.fullmatch(r"(?:\[([^\]]*)\])?\s*(BSTR|long)\s*(\*?)\s*(\w*)", param)
            if not pm:
                fail(f"{name}: parameter not understood: {param}")
            flags = [f.strip() for f in (pm.group(1) or "").split(",") if f.strip()]
            vtype, pointer = pm.group(2), pm.group(3) == "*"
            if "retval" in flags:
                if not pointer or result is not None:
                    fail(f"{name}: bad [out, retval] parameter")
                result = vtype
            elif "out" in flags or pointer:
                fail(f"{name}: only [out, retval] may be a pointer")
            else:
                arguments.append(vtype)
        if len(arguments) > MAX_ARGUMENTS:
            fail(f"{name}: more than {MAX_ARGUMENTS} arguments")
        members.append({
            "name": name,
            "id": int(ident[0][3:-1]),
            "kind": kind,
            "help": re.fullmatch(r'helpstring\("([^"]*)"\)', help_string[0]).group(1),
            "arguments": arguments,
            "result": result,
        })
    if body[consumed:].strip():
        fail(f"unexpected text at the end of the interface: {body[consumed:].strip()[:60]}")
    return members


def guid_initializer(text):
    p = text.split("-")
    rest = p[3] + p[4]
    bytes_ = ", ".join(f"0x{rest[i:i + 2]}" for i in range(0, 16, 2))
    return f"{{0x{p[0]}, 0x{p[1]}, 0x{p[2]}, {{{bytes_}}}}}"


def function_name(member):
    prefix = {"kPropertyGet": "get_", "kPropertyPut": "put_", "kMethod": ""}[member["kind"]]
    return prefix + member["name"]


def vtbl(name, members):
    """The function table struct of interface `name` with `members` after IDispatch."""
    out = [
        f"struct {name};",
        "",
        f"// IUnknown, IDispatch, then the members of {name} in the order of the IDL.",
        f"struct {name}Vtbl {{",
        f"  HResult(ZEL_COM_CALL* QueryInterface)({name}* self, const Guid* iid, void** object);",
        f"  std::uint32_t(ZEL_COM_CALL* AddRef)({name}* self);",
        f"  std::uint32_t(ZEL_COM_CALL* Release)({name}* self);",
        f"  HResult(ZEL_COM_CALL* GetTypeInfoCount)({name}* self, std::uint32_t* count);",
        f"  HResult(ZEL_COM_CALL* GetTypeInfo)({name}* self, std::uint32_t index, std::uint32_t locale,",
        "                                     void** typeInfo);",
        f"  HResult(ZEL_COM_CALL* GetIDsOfNames)({name}* self, const Guid* iid, char16_t** names,",
        "                                       std::uint32_t count, std::uint32_t locale, DispId* ids);",
        f"  HResult(ZEL_COM_CALL* Invoke)({name}* self, DispId member, const Guid* iid,",
        "                                std::uint32_t locale, std::uint16_t flags, DispParams* params,",
        "                                Variant* result, ExcepInfo* exception, std::uint32_t* argumentError);",
    ]
    for m in members:
        params = [f"{name}* self"] + [f"{C_TYPES[a][1]} a{i}" for i, a in enumerate(m["arguments"])]
        if m["result"]:
            params.append(f"{C_TYPES[m['result']][1]}* result")
        out.append(f"  HResult(ZEL_COM_CALL* {function_name(m)})({', '.join(params)});")
    out += [
        "};",
        "",
        f"struct {name} {{",
        f"  const {name}Vtbl* vtbl;",
        "};",
        "",
    ]
    return out


def header(idl_name, ids, classic, added):
    members = classic + added
    out = [
        f"// Generated from {idl_name} by idl_members.py: do not edit.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        '#include "automation/com_abi.h"',
        '#include "automation/member_table.h"',
        "",
        "namespace zel::com {",
        "",
    ]
    for const, guid in ids:
        out.append(f"inline constexpr Guid {const} = {guid_initializer(guid)};  // {{{guid}}}")
    out.append("")
    out += vtbl("IZelpostCom", classic)
    out += vtbl("IZelpostCom2", members)
    out += [
        "// Members of the classic interface: the first entries of kMembers.",
        f"inline constexpr std::size_t kClassicMemberCount = {len(classic)};",
        "",
        "inline constexpr Member kMembers[] = {",
    ]
    for i, m in enumerate(members):
        args = ", ".join(f"ValueType::{C_TYPES[a][0]}" for a in m["arguments"])
        result = f"ValueType::{C_TYPES[m['result']][0]}" if m["result"] else "ValueType::kNone"
        out.append(f'    {{"{m["name"]}", {m["id"]}, MemberKind::{m["kind"]}, {FIRST_SLOT + i}, '
                   f'{len(m["arguments"])}, {{{args}}}, {result}, "{m["help"]}"}},')
    out += [
        "};",
        "",
        "// Calls kMembers[index] through the function table of `self` with the",
        "// input arguments `in` (in order) and the result slot `out`.",
        "inline HResult CallMember(IZelpostCom2* self, std::size_t index, const Value* in, Value* out) {",
        "  switch (index) {",
    ]
    for i, m in enumerate(members):
        args = ["self"] + [f"in[{k}].{C_TYPES[a][2]}" for k, a in enumerate(m["arguments"])]
        if m["result"]:
            args.append(f"&out->{C_TYPES[m['result']][2]}")
        out.append(f"    case {i}: return self->vtbl->{function_name(m)}({', '.join(args)});")
    out += [
        "  }",
        "  (void)in;",
        "  (void)out;",
        "  return kMemberNotFound;",
        "}",
        "",
        "}  // namespace zel::com",
        "",
    ]
    return "\n".join(out)


def main():
    if len(sys.argv) != 4:
        fail("usage: idl_members.py IDL RGS_TEMPLATE OUTDIR")
    idl_path, rgs_path = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    outdir = pathlib.Path(sys.argv[3]) / "automation"
    text = idl_path.read_text(encoding="utf-8")
    code = re.sub(r"//[^\n]*", "", text)

    interface = re.search(r"interface\s+IZelpostCom\s*:\s*IDispatch\s*\{(.*?)\}\s*;", code, re.S)
    if not interface:
        fail("no 'interface IZelpostCom : IDispatch { ... };'")
    derived = re.search(r"interface\s+IZelpostCom2\s*:\s*IZelpostCom\s*\{(.*?)\}\s*;", code, re.S)
    if not derived:
        fail("no 'interface IZelpostCom2 : IZelpostCom { ... };'")
    ids = [
        ("kLibIdZelpost", uuid_of(attributes_before(code, r"library\s+Zelpost\b"))),
        ("kIidIZelpostCom", uuid_of(attributes_before(code, r"interface\s+IZelpostCom\s*:"))),
        ("kIidIZelpostCom2", uuid_of(attributes_before(code, r"interface\s+IZelpostCom2\b"))),
        ("kClsidZelpostCom", uuid_of(attributes_before(code, r"coclass\s+ZelpostCom\b"))),
        ("kDiidIZelpostComEvents", uuid_of(attributes_before(code, r"dispinterface\s+_IZelpostComEvents\b"))),
    ]
    classic = parse_members(interface.group(1))
    added = parse_members(derived.group(1))
    # The derived interface only appends: its DISPIDs follow the classic ones.
    classic_ids = {m["id"] for m in classic}
    if any(m["id"] in classic_ids for m in added) or min(m["id"] for m in added) <= max(classic_ids):
        fail("IZelpostCom2's DISPIDs must follow IZelpostCom's")

    outdir.mkdir(parents=True, exist_ok=True)
    (outdir / "zelpost_members.h").write_text(header(idl_path.name, ids, classic, added), encoding="utf-8")
    rgs = rgs_path.read_text(encoding="utf-8")
    named = dict(ids)
    rgs = rgs.replace("@CLSID@", "{" + named["kClsidZelpostCom"] + "}")
    rgs = rgs.replace("@LIBID@", "{" + named["kLibIdZelpost"] + "}")
    (outdir / "zelpost.rgs").write_text(rgs, encoding="utf-8")
    (outdir / "zelpost.idl").write_bytes(text.encode("cp932"))


if __name__ == "__main__":
    main()
