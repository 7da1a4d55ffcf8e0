target_compile_definitions(talvero_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(talvero_core PUBLIC ws2_32 wininet ole32 oleaut32 uuid advapi32 user32 shell32 gdi32)
