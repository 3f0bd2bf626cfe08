# cmake -DNAME=<name> -DINPUT=<file> -DOUTPUT=<file.cpp> -P EmbedResource.cmake
# Writes a C++ source holding the file's bytes and registering them under the name at start-up.
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "Resource ${NAME}: no file ${INPUT}")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# 32 bytes a line, then every byte as 0xNN.
string(REGEX REPLACE "(................................................................)" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"platform/core/Resources.h\"\n\n"
  "namespace {\n"
  "// One byte more than the file, so that an empty file still gives a valid array.\n"
  "alignas(16) const unsigned char kBytes[] = {\n${bytes}\n0x00};\n"
  "[[maybe_unused]] const bool kRegistered =\n"
  "    kestrom::core::RegisterResource(\"${NAME}\", kBytes, ${size}u);\n"
  "}  // namespace\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
