# Settings every Windows target of ours shares.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-finput-charset=UTF-8 -fexec-charset=UTF-8)
# Every Windows binary is linked stripped: dist/ ships the very files the tests run, without symbols that only
# add weight.
add_link_options(-s)
