"""The binary interface of the automation object, as ctypes sees it.

The library lays its COM types out as Windows does (GUID, BSTR, VARIANT,
DISPPARAMS, EXCEPINFO, function tables of IUnknown, IClassFactory and
IDispatch). A BSTR is UTF-16 text after a 32-bit byte count, allocated from
the C heap: the pointer handed around points at the text, the block starts
4 bytes before it.
"""
import ctypes
import ctypes.util
import os
import uuid

HRESULT = ctypes.c_int32

S_OK = 0
DISP_E_EXCEPTION = -2147352567  # 0x80020009
DISPID_PROPERTYPUT = -3
DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT = 1, 2, 4
VT_EMPTY, VT_I4, VT_BSTR = 0, 3, 8

# Function-table slots.
QUERY_INTERFACE, ADD_REF, RELEASE = 0, 1, 2
CREATE_INSTANCE = 3  # IClassFactory
GET_IDS_OF_NAMES, INVOKE = 5, 6  # IDispatch


class GUID(ctypes.Structure):
    _fields_ = [("data1", ctypes.c_uint32), ("data2", ctypes.c_uint16), ("data3", ctypes.c_uint16),
                ("data4", ctypes.c_uint8 * 8)]

    @classmethod
    def parse(cls, text):
        return cls.from_buffer_copy(uuid.UUID(text).bytes_le)


IID_NULL = GUID()
IID_IDISPATCH = GUID.parse("00020400-0000-0000-C000-000000000046")
IID_ICLASSFACTORY = GUID.parse("00000001-0000-0000-C000-000000000046")
CLSID_ZELPOSTCOM = GUID.parse("44BFE6F8-9C7E-437C-92F1-61A3011678CC")


class _Value(ctypes.Union):
    _fields_ = [("llVal", ctypes.c_int64), ("lVal", ctypes.c_int32), ("bstrVal", ctypes.c_void_p),
                ("record", ctypes.c_void_p * 2)]


class VARIANT(ctypes.Structure):
    _fields_ = [("vt", ctypes.c_uint16), ("reserved1", ctypes.c_uint16), ("reserved2", ctypes.c_uint16),
                ("reserved3", ctypes.c_uint16), ("value", _Value)]


class DISPPARAMS(ctypes.Structure):
    _fields_ = [("rgvarg", ctypes.POINTER(VARIANT)), ("rgdispidNamedArgs", ctypes.POINTER(ctypes.c_int32)),
                ("cArgs", ctypes.c_uint32), ("cNamedArgs", ctypes.c_uint32)]


class EXCEPINFO(ctypes.Structure):
    _fields_ = [("wCode", ctypes.c_uint16), ("wReserved", ctypes.c_uint16), ("bstrSource", ctypes.c_void_p),
                ("bstrDescription", ctypes.c_void_p), ("bstrHelpFile", ctypes.c_void_p),
                ("dwHelpContext", ctypes.c_uint32), ("pvReserved", ctypes.c_void_p),
                ("pfnDeferredFillIn", ctypes.c_void_p), ("scode", HRESULT)]


assert ctypes.sizeof(VARIANT) == 8 + 2 * ctypes.sizeof(ctypes.c_void_p)

_libc = ctypes.CDLL(ctypes.util.find_library("c"))
_libc.malloc.restype = ctypes.c_void_p
_libc.malloc.argtypes = [ctypes.c_size_t]
_libc.free.argtypes = [ctypes.c_void_p]


def bstr(text):
    """A new BSTR of `text` (None: a null BSTR). Free it with free_bstr."""
    if text is None:
        return None
    data = text.encode("utf-16-le", "surrogatepass")
    block = _libc.malloc(4 + len(data) + 2)
    if not block:
        raise MemoryError("BSTR")
    ctypes.memmove(block, len(data).to_bytes(4, "little") + data + b"\0\0", 4 + len(data) + 2)
    return block + 4


def free_bstr(text):
    if text:
        _libc.free(text - 4)


def read_bstr(text):
    """The str of a BSTR (None for a null one)."""
    if not text:
        return None
    size = ctypes.c_uint32.from_address(text - 4).value
    return ctypes.string_at(text, size).decode("utf-16-le", "surrogatepass")


def method(pointer, slot, *argtypes):
    """Function `slot` of the function table of the interface at `pointer`."""
    table = ctypes.cast(pointer, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return ctypes.CFUNCTYPE(HRESULT, ctypes.c_void_p, *argtypes)(table[slot])


def release(pointer):
    table = ctypes.cast(pointer, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    ctypes.CFUNCTYPE(ctypes.c_uint32, ctypes.c_void_p)(table[RELEASE])(pointer)


_libraries = {}


def library(path=None):
    """The zelpost library (loaded once per path): `path`, else
    $ZELPOST_LIBRARY, else libzelpost.so.1 from the loader's path. An
    OSError that names ZELPOST_LIBRARY when it cannot be loaded."""
    path = path or os.environ.get("ZELPOST_LIBRARY") or "libzelpost.so.1"
    if path not in _libraries:
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            raise OSError(f"zelpost: cannot load the library {path!r} ({error}); set ZELPOST_LIBRARY "
                          "to the path of libzelpost.so.1") from error
        lib.DllGetClassObject.restype = HRESULT
        lib.DllGetClassObject.argtypes = [ctypes.POINTER(GUID), ctypes.POINTER(GUID),
                                          ctypes.POINTER(ctypes.c_void_p)]
        lib.DllCanUnloadNow.restype = HRESULT
        lib.DllCanUnloadNow.argtypes = []
        _libraries[path] = lib
    return _libraries[path]
