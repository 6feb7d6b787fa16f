fuzz_target(edid_file EdidFileFuzz.cpp LIBS core_edid)
