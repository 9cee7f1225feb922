@rem Starts the Windows build with the profile directory the test asked for: Wine
@rem replaces USERPROFILE in the first process it starts, so the tests pass it as
@rem PF_USERPROFILE and this step, run inside Windows, puts it back.
@set "USERPROFILE=%PF_USERPROFILE%"
@"%~dp0..\..\build-win\plugin_files.exe" %*
