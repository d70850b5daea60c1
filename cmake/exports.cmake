# The 22 exports and their argument counts (each argument is 32 bits on the
# x86 stdcall ABI, so the decorated name is _name@(4 x count)).
set(ZELPOST_EXPORTS
  zelVersion:2 zelInitialize:6 zelSendMailOne:2 zelSendMailDummy:3
  zelRecvMailAll:4 zelRecvMailDummy:2 zelMailBiff:0 zelSetValueInt:2
  zelGetValueInt:1 zelSetValueStr:2 zelGetValueStr:3 zelGetErrorInt:0
  zelGetErrorStr:2 zelDialogAttach:1 zelGetAttach:1 zelGetAttachList:2
  zelPencode:2 zelPdecode:2 zelPoplist:3 zelMakeIndexMBX:1
  zelMakeIndexWML:1 zelPrintIndex:7)

# The COM entry points of the automation object (argument counts as above),
# exported under their plain names only and left out of import libraries
# (PRIVATE): hosts reach them through COM, not by linking.
set(ZELPOST_COM_EXPORTS
  DllGetClassObject:3 DllCanUnloadNow:0 DllRegisterServer:0 DllUnregisterServer:0)

# zel_write_def(OUT [IMPORT]): writes a module-definition file.
# Without IMPORT, the DLL's: every function exported under its plain and
# its decorated name; on x86 the compiled symbol is name@N, on x64 the plain
# name. With IMPORT, the x86 import library's: every function under the
# name a C host compiled with include/zelpost.h calls (name@N), which
# dlltool --kill-at binds to the plain export. The COM entry points follow
# in the DLL's file only.
function(zel_write_def out)
  set(text "LIBRARY zelpost.dll\nEXPORTS\n")
  foreach(entry ${ZELPOST_EXPORTS})
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 name)
    list(GET parts 1 count)
    math(EXPR bytes "${count} * 4")
    if("${ARGN}" STREQUAL "IMPORT")
      string(APPEND text "  ${name}@${bytes}\n")
    elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND text "  ${name} = ${name}@${bytes}\n  _${name}@${bytes} = ${name}@${bytes}\n")
    else()
      string(APPEND text "  ${name}\n  _${name}@${bytes} = ${name}\n")
    endif()
  endforeach()
  if(NOT "${ARGN}" STREQUAL "IMPORT")
    foreach(entry ${ZELPOST_COM_EXPORTS})
      string(REPLACE ":" ";" parts ${entry})
      list(GET parts 0 name)
      list(GET parts 1 count)
      math(EXPR bytes "${count} * 4")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(APPEND text "  ${name} = ${name}@${bytes} PRIVATE\n")
      else()
        string(APPEND text "  ${name} PRIVATE\n")
      endif()
    endforeach()
  endif()
  file(WRITE ${out} "${text}")
endfunction()
