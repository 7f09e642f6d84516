@echo off
rem Installs the driver for the current user only; no administrator's rights are needed.
call "%~dp0mirel-register.cmd" install user
exit /b %errorlevel%
