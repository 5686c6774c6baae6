# Win32 builds: Uninst.exe (win32 preset) or the Win32 test executable run under Wine
# (win32-tests preset).
