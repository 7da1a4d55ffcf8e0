find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMD REQUIRED IMPORTED_TARGET libmd)
find_package(CURL REQUIRED)
target_link_libraries(talvero_core PUBLIC PkgConfig::LIBMD CURL::libcurl)
