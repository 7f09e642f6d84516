@echo off
rem Installs the driver for every user of this computer (from an administrator's command prompt).
call "%~dp0mirel-register.cmd" install machine
exit /b %errorlevel%
