@echo off
rem Removes the driver installed for the current user.
call "%~dp0mirel-register.cmd" uninstall user
exit /b %errorlevel%
