// Compiles the test programs' shared precompiled headers; holds no code of its own.
