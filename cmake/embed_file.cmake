# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=Name -P embed_file.cmake
# Writes a C++ source that holds INPUT's bytes as `const unsigned char Name[]` and its
# length as `const std::size_t NameSize`, both in namespace vexa::tool.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace vexa::tool {\n"
  "extern const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
  "extern const std::size_t ${SYMBOL}Size = ${size};\n"
  "}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
