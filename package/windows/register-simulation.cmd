@echo off
rem Registers the simulation OPC server, the OPC server list service and the
rem OPC proxy/stub from this folder. Run once, as administrator.
rem Skip the server list and the proxy/stub where the OPC Core Components are
rem installed (they bring their own).
cd /d "%~dp0"
regsvr32 /s talvero-opcda-ps.dll
if errorlevel 1 goto failed
talvero-sim-list.exe /regserver
if errorlevel 1 goto failed
talvero-sim-server.exe /regserver
if errorlevel 1 goto failed
echo The simulation server is registered.
exit /b 0
:failed
echo Registration failed: run this from an administrator command prompt.
exit /b 1
