# Turns one file into a C++ source holding its bytes.
# Run as: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<identifier> -P EmbedMedia.cmake
# The source defines, in namespace slime::media_data,
#   extern const unsigned char SYMBOL[];     the bytes
#   extern const long long SYMBOL_size;      their count
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT OR NOT DEFINED SYMBOL)
  message(FATAL_ERROR "EmbedMedia.cmake needs INPUT, OUTPUT and SYMBOL")
endif()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  set(bytes "0")
else()
  # 24 bytes per line, then every byte pair becomes 0xNN.
  string(REGEX REPLACE "(................................................)" "\\1\n" hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
endif()

get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
"// Generated from ${name} by EmbedMedia.cmake; edit the source file, not this one.
namespace slime::media_data {
extern const unsigned char ${SYMBOL}[];
extern const long long ${SYMBOL}_size;
const unsigned char ${SYMBOL}[] = {
${bytes}
};
const long long ${SYMBOL}_size = ${size};
}  // namespace slime::media_data
")
