# The shipped 32-bit programs inspected as files, besides being run: headers, imports against what
# Windows 2000 exports, and every resource byte by byte.
set(inspect ${CMAKE_CURRENT_LIST_DIR}/inspect_shipped_program.sh)
set(known_imports ${CMAKE_CURRENT_LIST_DIR}/windows2000_imports.txt)
add_test(NAME shipped_stub_inspection
  COMMAND ${inspect} ${CMAKE_OBJDUMP} $<TARGET_FILE:setup_stub> ${known_imports})
add_test(NAME shipped_sample_inspection
  COMMAND ${inspect} ${CMAKE_OBJDUMP} $<TARGET_FILE:setup_sample> ${known_imports} --payload ${SETUP_SAMPLE_PAYLOAD})
