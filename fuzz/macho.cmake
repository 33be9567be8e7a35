# Mach-O headers: the executables of every bundle in the scanned folders are
# read by the root-run executor and the sandbox's lipo.
add_varno_fuzzer(macho SOURCES macho_fuzz.cpp LIBS bundle)
