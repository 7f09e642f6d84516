@echo off
rem Removes the driver installed for every user of this computer (from an administrator's command prompt).
call "%~dp0mirel-register.cmd" uninstall machine
exit /b %errorlevel%
