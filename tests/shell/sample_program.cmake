# The sample setup program: the shell linked around a payload that a script of ours writes at build
# time, which shows that a payload is a build input of add_setup_program.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(SETUP_SAMPLE_PAYLOAD ${CMAKE_CURRENT_BINARY_DIR}/sample_payload.zlib)
add_custom_command(OUTPUT ${SETUP_SAMPLE_PAYLOAD}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_sample_payload.py ${SETUP_SAMPLE_PAYLOAD}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_sample_payload.py
  COMMENT "Writing the sample payload")
add_custom_target(setup_sample_payload DEPENDS ${SETUP_SAMPLE_PAYLOAD})
add_setup_program(setup_sample PAYLOAD ${SETUP_SAMPLE_PAYLOAD})
add_dependencies(setup_sample setup_sample_payload)
