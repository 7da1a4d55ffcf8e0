# Helper programs of the Windows end-to-end tests: they stand in for the
# operator's clicks on message boxes and the tray under Wine.
if(WIN32)
  add_executable(answer_box ${CMAKE_SOURCE_DIR}/tests/windows/answer_box.c)
  target_link_libraries(answer_box PRIVATE user32 shell32)
  target_link_options(answer_box PRIVATE -static)
endif()
