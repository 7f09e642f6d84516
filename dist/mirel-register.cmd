@echo off
rem Installs or removes the Mirel-240-F driver for 1C:Enterprise. The DLLs are copied to a folder
rem of their own, so that the registration does not point into an unpacked archive that is later
rem deleted, and each is registered with the regsvr32 of its bitness: 1C loads the 64-bit DLL into
rem a 64-bit client and the 32-bit one into a 32-bit client (the usual case).
rem Usage: mirel-register.cmd install|uninstall machine|user
setlocal EnableExtensions
set "HERE=%~dp0"
set "ACTION=%~1"
set "DLL=Mirel240F_DRV_2.4.dll"
if /i not "%ACTION%"=="install" if /i not "%ACTION%"=="uninstall" goto usage
rem Machine-wide: for every user, under Program Files, which needs an administrator's command
rem prompt. Per user: no rights needed, under the user's local application data.
rem A 32-bit command prompt on 64-bit Windows sees "Program Files (x86)" as ProgramFiles; both
rem DLLs belong under the one Program Files, which ProgramW6432 names in either bitness.
set "PROGRAMS=%ProgramFiles%"
if defined ProgramW6432 set "PROGRAMS=%ProgramW6432%"
if /i "%~2"=="machine" (
  set "DEST=%PROGRAMS%\Mirel240F_DRV"
  set "SCOPE="
) else if /i "%~2"=="user" (
  set "DEST=%LOCALAPPDATA%\Mirel240F_DRV"
  set "SCOPE=/n /i:user"
) else (
  goto usage
)

rem A 32-bit command prompt on 64-bit Windows sees the 64-bit system folder as Sysnative.
set "NATIVE=%SystemRoot%\System32"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "NATIVE=%SystemRoot%\Sysnative"
set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if defined PROCESSOR_ARCHITEW6432 set "WIN64=1"

rem Each step's failure is read from errorlevel: some command interpreters do not set the
rem outcome that "||" tests after their built-in commands (copy, del).
if defined WIN64 goto win64
call :%ACTION% x86 "%NATIVE%\regsvr32.exe"
if errorlevel 1 goto failed
goto done
:win64
call :%ACTION% x64 "%NATIVE%\regsvr32.exe"
if errorlevel 1 goto failed
if not exist "%SystemRoot%\SysWOW64\regsvr32.exe" (
  echo This Windows has no 32-bit subsystem: the 32-bit driver is left out.
  goto done
)
call :%ACTION% x86 "%SystemRoot%\SysWOW64\regsvr32.exe"
if errorlevel 1 goto failed
:done
if /i "%ACTION%"=="uninstall" rmdir "%DEST%" 2>nul
echo Done.
exit /b 0

:install
if not exist "%DEST%\%~1" mkdir "%DEST%\%~1"
copy /y "%HERE%%~1\%DLL%" "%DEST%\%~1\" >nul
if errorlevel 1 exit /b 1
"%~2" /s %SCOPE% "%DEST%\%~1\%DLL%"
if errorlevel 1 exit /b 1
echo Registered: %DEST%\%~1\%DLL%
exit /b 0

:uninstall
if not exist "%DEST%\%~1\%DLL%" exit /b 0
"%~2" /s /u %SCOPE% "%DEST%\%~1\%DLL%"
if errorlevel 1 exit /b 1
rem A DLL still loaded by a running 1C cannot be deleted: close 1C first. del reports that only
rem on the screen, so the file's presence afterwards is the test.
del /f /q "%DEST%\%~1\%DLL%"
if exist "%DEST%\%~1\%DLL%" exit /b 1
rmdir "%DEST%\%~1" 2>nul
echo Removed: %DEST%\%~1\%DLL%
exit /b 0

:usage
echo Usage: %~nx0 install^|uninstall machine^|user
exit /b 2

:failed
echo FAILED. For a machine-wide installation, run the command prompt as administrator;
echo before removing, close every 1C:Enterprise window that uses the driver.
exit /b 1
