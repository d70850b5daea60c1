"""zelpost for Python: Japanese Internet mail through the zelpost library.

Each Zelpost object wraps one automation object of libzelpost.so, with a
mail session of its own (account, options and error state are not shared
with other objects). Members are called late-bound by name, as a Windows
script calls them; texts go in and come out as str (the library converts
them to and from Shift-JIS with a fixed code page, whatever the locale),
numbers as int. Files the library reads or writes (send files, display
files, list files) are Shift-JIS: open them with encoding="cp932".

    import zelpost
    with zelpost.Zelpost() as mail:
        mail.initialize("pop.example.jp", "smtp.example.jp", "taro", "secret", "taro@example.jp", "山田 太郎")
        mail.tls = 1            # TLS from the first byte (POP3S 995, SMTPS 465)
        mail.smtp_auth = 1      # SMTP AUTH with the account
        if mail.send_mail("mail.qml") != 1:
            print(mail.err_number, mail.err_discription, mail.err_detail)

The library is libzelpost.so.1 from the loader's path, or the file that
$ZELPOST_LIBRARY names (or the `library` argument of Zelpost).
"""
import ctypes

from . import _com

__all__ = ["Zelpost", "ZelpostError", "can_unload_now"]


class ZelpostError(OSError):
    """A member call failed at the COM level (not a failed mail operation,
    which comes back as the result and err_number). `hresult` holds the code."""

    def __init__(self, hresult, member):
        self.hresult = hresult & 0xFFFFFFFF
        super().__init__(f"{member}: HRESULT 0x{self.hresult:08X}")


def can_unload_now(library=None):
    """True when no object, class factory reference or server lock of the
    library is alive (DllCanUnloadNow)."""
    return _com.library(library).DllCanUnloadNow() == _com.S_OK


def _property(member, doc):
    return property(lambda self: self._get(member), lambda self, value: self._put(member, value), doc=doc)


class Zelpost:
    """One automation object (Zelpost.ZelpostCom) with its own mail session.

    `library`: path of libzelpost.so (default: $ZELPOST_LIBRARY, else
    libzelpost.so.1 from the loader's path). close() (or the end of a with
    block) releases the object.
    """

    def __init__(self, library=None):
        self._pointer = None
        self._ids = {}
        lib = _com.library(library)
        factory = ctypes.c_void_p()
        hr = lib.DllGetClassObject(_com.CLSID_ZELPOSTCOM, _com.IID_ICLASSFACTORY, ctypes.byref(factory))
        if hr < 0:
            raise ZelpostError(hr, "DllGetClassObject")
        try:
            create = _com.method(factory, _com.CREATE_INSTANCE, ctypes.c_void_p, ctypes.POINTER(_com.GUID),
                                 ctypes.POINTER(ctypes.c_void_p))
            pointer = ctypes.c_void_p()
            hr = create(factory, None, _com.IID_IDISPATCH, ctypes.byref(pointer))
        finally:
            _com.release(factory)
        if hr < 0:
            raise ZelpostError(hr, "CreateInstance")
        self._pointer = pointer

    def close(self):
        if self._pointer:
            _com.release(self._pointer)
            self._pointer = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # the interpreter is shutting down
            pass

    # Late-bound calls.
    def _id(self, member):
        if member not in self._ids:
            names = (ctypes.c_void_p * 1)()
            name = _com.bstr(member)
            names[0] = name
            dispid = ctypes.c_int32()
            get_ids = _com.method(self._pointer, _com.GET_IDS_OF_NAMES, ctypes.POINTER(_com.GUID),
                                  ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(ctypes.c_int32))
            try:
                hr = get_ids(self._pointer, _com.IID_NULL, names, 1, 0, ctypes.byref(dispid))
            finally:
                _com.free_bstr(name)
            if hr < 0:
                raise ZelpostError(hr, member)
            self._ids[member] = dispid.value
        return self._ids[member]

    def _invoke(self, member, flags, *args):
        if not self._pointer:
            raise ValueError("the Zelpost object is closed")
        variants = (_com.VARIANT * max(len(args), 1))()
        owned = []
        try:
            for i, value in enumerate(reversed(args)):  # the last argument comes first
                v = variants[i]
                if value is None or isinstance(value, str):
                    text = _com.bstr(value)
                    if text:
                        owned.append(text)
                    v.vt, v.value.bstrVal = _com.VT_BSTR, text
                elif isinstance(value, int):
                    if not -2**31 <= value < 2**31:
                        raise OverflowError(f"{member}: {value} does not fit a long")
                    v.vt, v.value.lVal = _com.VT_I4, value
                else:
                    raise TypeError(f"{member}: str, int or None expected, not {type(value).__name__}")
            params = _com.DISPPARAMS(variants, None, len(args), 0)
            put = ctypes.c_int32(_com.DISPID_PROPERTYPUT)
            if flags == _com.DISPATCH_PROPERTYPUT:
                params.rgdispidNamedArgs, params.cNamedArgs = ctypes.pointer(put), 1
            result = _com.VARIANT()
            exception = _com.EXCEPINFO()
            error = ctypes.c_uint32()
            invoke = _com.method(self._pointer, _com.INVOKE, ctypes.c_int32, ctypes.POINTER(_com.GUID),
                                 ctypes.c_uint32, ctypes.c_uint16, ctypes.POINTER(_com.DISPPARAMS),
                                 ctypes.POINTER(_com.VARIANT), ctypes.POINTER(_com.EXCEPINFO),
                                 ctypes.POINTER(ctypes.c_uint32))
            hr = invoke(self._pointer, self._id(member), _com.IID_NULL, 0, flags, ctypes.byref(params),
                        ctypes.byref(result), ctypes.byref(exception), ctypes.byref(error))
        finally:
            for text in owned:
                _com.free_bstr(text)
        if hr == _com.DISP_E_EXCEPTION:
            hr = exception.scode
        if hr < 0:
            raise ZelpostError(hr, member)
        if result.vt == _com.VT_BSTR:
            try:
                return _com.read_bstr(result.value.bstrVal) or ""
            finally:
                _com.free_bstr(result.value.bstrVal)
        return result.value.lVal if result.vt == _com.VT_I4 else None

    def _call(self, member, *args):
        return self._invoke(member, _com.DISPATCH_METHOD | _com.DISPATCH_PROPERTYGET, *args)

    def _get(self, member):
        return self._invoke(member, _com.DISPATCH_PROPERTYGET)

    def _put(self, member, value):
        self._invoke(member, _com.DISPATCH_PROPERTYPUT, value)

    # The members (results as the library's flat functions give them).
    def version(self):
        """The library's version text, e.g. "zelpost.dll ver.1.0.0"."""
        return self._call("Version")

    def initialize(self, pop3name, smtpname, username, password, mailaddr, fullname=None):
        """Sets the account (a server name may carry ":port"). 1, or 0 with err_number -1000."""
        return self._call("Initialize", pop3name, smtpname, username, password, mailaddr, fullname)

    def send_mail(self, mailfile, attachfile=None):
        """Sends the send file `mailfile`; `attachfile`: attachment paths separated by TAB. 1 or 0."""
        return self._call("SendMail", mailfile, attachfile)

    def send_mail_dummy(self, mailfile, attachfile, dummyfile):
        """Writes the message of `mailfile` to `dummyfile` instead of sending it. 1 or 0."""
        return self._call("SendMailDummy", mailfile, attachfile, dummyfile)

    def recv_mail_all(self, listfile, maildir, dupfile=None, mailbox=None):
        """Receives every new message into display files of `maildir`, listed in `listfile`.
        The number stored, 0, or a negative code."""
        return self._call("RecvMailAll", listfile, maildir, dupfile, mailbox)

    def recv_mail_dummy(self, mailfile, dummyfile=None):
        """Receives one message into the display file `mailfile`. 1, 0 or -1."""
        return self._call("RecvMailDummy", mailfile, dummyfile)

    def mail_biff(self):
        """Number of messages waiting on the POP3 server, or a negative code."""
        return self._call("MailBiff")

    def dialog_attach(self, filename):
        """The attachment dialog for the display file `filename`."""
        return self._call("DialogAttach", filename)

    def pencode(self, password):
        """The password scrambled into digits (different on each call)."""
        return self._call("Pencode", password)

    def pdecode(self, scrambled):
        """The password of a pencode result."""
        return self._call("Pdecode", scrambled)

    @property
    def err_discription(self):
        """The error text of the last operation ("" when it succeeded)."""
        return self._get("ErrDiscription")

    @property
    def err_number(self):
        """The error number of the last operation (0 when it succeeded)."""
        return self._get("ErrNumber")

    hwnd_parent = _property("hWndParent", "Option HWND: the parent window of receive-all.")
    pop_dele = _property("POP_DELE", "Option DELE (0/1): receive-all deletes on the server.")
    pop_before_smtp = _property("POP_BEFORE_SMTP", "Option POPBEFORESMTP (0/1, default 1).")
    pop_silent = _property("POP_SILENT", "Option SILENT (0/1): receive-all without a dialog.")
    pop_execute_type = _property("POP_ExecuteType", "Option EXECUTE_TYPE: 1, or 2 for any other value.")
    apop = _property("APOP", "Option APOP (0/1): log in with APOP.")

    # The options of the library (IZelpostCom2), each as its property.
    tls = _property("TLS", "Option TLS: 0 plain, 1 TLS from the first byte, 2 STLS/STARTTLS "
                           "(another value raises ZelpostError).")
    smtp_auth = _property("SMTPAUTH", "Option SMTPAUTH: 0 none, 1 AUTH with the password, "
                                      "2 XOAUTH2/OAUTHBEARER with the password as an access token.")
    pop_auth = _property("POPAUTH", "Option POPAUTH: 0 USER/PASS or APOP, 1 AUTH PLAIN, "
                                    "2 XOAUTH2/OAUTHBEARER with the password as an access token.")
    timeout = _property("TIMEOUT", "Option TIMEOUT: seconds a connect, receive or send may wait (0: no limit).")
    tls_ca_file = _property("TLSCAFILE", "Option TLSCAFILE: PEM file of certificates trusted besides the system's.")
    log_dir = _property("LOGDIR", "Option LOGDIR: the folder of the diagnostic log zelpost.log.")
    charset = _property("CHARSET", "Option CHARSET: the charset of messages sent.")
    send_file_charset = _property("SENDFILECHARSET", "Option SENDFILECHARSET: the charset of send files.")
    decode = _property("DECODE", "Option DECODE: how received messages are decoded.")
    dele_seen = _property("DELESEEN", "Option DELESEEN: delete messages already seen on the server.")
    max_size = _property("MAXSIZE", "Option MAXSIZE: the largest message received.")

    @property
    def err_detail(self):
        """Why the last operation failed, in plain words ("" when it succeeded)."""
        return self._get("ERRDETAIL")

    @property
    def err_class(self):
        """The kind of the last failure (the ERRCLASS option; 0 when it succeeded)."""
        return self._get("ERRCLASS")

    def set_value_int(self, name, value):
        """Sets the integer option `name`; returns what was stored."""
        return self._call("SetValueInt", name, value)

    def get_value_int(self, name):
        """The integer option `name`."""
        return self._call("GetValueInt", name)

    def set_value_str(self, name, value):
        """Sets the text option `name`; returns the stored length."""
        return self._call("SetValueStr", name, value)

    def get_value_str(self, name):
        """The text option `name`."""
        return self._call("GetValueStr", name)
