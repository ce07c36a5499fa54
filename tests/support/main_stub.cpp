// Test executables link gtest_main; this file keeps add_executable from needing a first source.
