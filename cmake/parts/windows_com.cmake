# Windows only: the OPC DA interfaces compiled from the project's own IDL, the
# proxy/stub DLL that carries them between processes, and the simulation
# server hosted as COM local servers (for the Wine tests and for users who
# want to try the agent without a plant).
if(WIN32)
  find_program(TALVERO_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
  set(TALVERO_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
      "Wine's IDL files, which the project's IDL imports")
  set(opcda_idl ${CMAKE_SOURCE_DIR}/idl/opcda.idl)
  set(opcda_out ${CMAKE_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${opcda_out}/widl)
  # -Oif: stubless proxies (widl's default -Os output does not compile with
  # mingw-w64); --win64 selects the x64 layout.
  set(widl_flags -Oif --win64 -I${TALVERO_WINE_IDL_DIR})
  add_custom_command(
    OUTPUT ${opcda_out}/opcda.h ${opcda_out}/opcda_i.c ${opcda_out}/opcda_p.c
           ${opcda_out}/dlldata.c
    COMMAND ${TALVERO_WIDL} ${widl_flags} -h -o ${opcda_out}/opcda.h ${opcda_idl}
    COMMAND ${TALVERO_WIDL} ${widl_flags} -u -o ${opcda_out}/opcda_i.c ${opcda_idl}
    COMMAND ${TALVERO_WIDL} ${widl_flags} -p -o ${opcda_out}/widl/opcda_p.c ${opcda_idl}
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/idl/fix_widl_proxy.py
            ${opcda_out}/widl/opcda_p.c ${opcda_out}/opcda_p.c
    COMMAND ${TALVERO_WIDL} ${widl_flags} --dlldata-only -o ${opcda_out}/dlldata.c opcda
    DEPENDS ${opcda_idl} ${CMAKE_SOURCE_DIR}/idl/fix_widl_proxy.py
    COMMENT "Compiling the OPC DA interfaces with widl"
    VERBATIM)
  add_custom_target(opcda_generated DEPENDS ${opcda_out}/opcda.h ${opcda_out}/opcda_i.c)

  # The interface ids join the core library, so the agent, its tests and the
  # simulation servers all share one definition.
  target_sources(talvero_core PRIVATE ${opcda_out}/opcda_i.c)
  target_include_directories(talvero_core PUBLIC ${opcda_out})
  add_dependencies(talvero_core opcda_generated)
  target_link_libraries(talvero_core PUBLIC rpcrt4)

  add_library(talvero_opcda_ps SHARED ${opcda_out}/opcda_p.c ${opcda_out}/dlldata.c
              ${opcda_out}/opcda_i.c ${CMAKE_SOURCE_DIR}/idl/opcda_ps.def)
  set_target_properties(talvero_opcda_ps PROPERTIES OUTPUT_NAME talvero-opcda-ps PREFIX "")
  target_compile_definitions(talvero_opcda_ps PRIVATE REGISTER_PROXY_DLL WIN32_LEAN_AND_MEAN)
  target_compile_options(talvero_opcda_ps PRIVATE
    -include ${CMAKE_SOURCE_DIR}/idl/proxy_prelude.h -Wno-unused-parameter)
  target_include_directories(talvero_opcda_ps PRIVATE ${opcda_out})
  target_link_libraries(talvero_opcda_ps PRIVATE rpcrt4 ole32 oleaut32 uuid)
  target_link_options(talvero_opcda_ps PRIVATE -static)
endif()

if(WIN32)
  # The simulation server and the server-list service as COM local servers,
  # sharing the simulation engine with the Linux build.
  set(simcom_sources ${CMAKE_SOURCE_DIR}/simcom/sim_com_objects.cpp
      ${CMAKE_SOURCE_DIR}/simcom/sim_com_main.cpp)
  foreach(simcom_kind server list)
    set(simcom_target talvero-sim-${simcom_kind})
    add_executable(${simcom_target} ${simcom_sources})
    if(simcom_kind STREQUAL list)
      target_compile_definitions(${simcom_target} PRIVATE SIMCOM_IS_LIST=1)
    else()
      target_compile_definitions(${simcom_target} PRIVATE SIMCOM_IS_LIST=0)
    endif()
    target_link_libraries(${simcom_target} PRIVATE talvero_core)
    target_link_options(${simcom_target} PRIVATE -static)
    add_dependencies(talvero-tests ${simcom_target})
  endforeach()
  add_dependencies(talvero-tests talvero_opcda_ps)
endif()
