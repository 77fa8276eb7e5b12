# Writes OUT, a header defining VOICELIB_CONVERSION_INTERFACE_DIGEST: the SHA-256 of the headers of
# core/ and media/ under SOURCE_DIR, in name order.
file(GLOB headers ${SOURCE_DIR}/core/*.h ${SOURCE_DIR}/media/*.h)
list(SORT headers)
set(all "")
foreach(header ${headers})
  file(SHA256 ${header} one)
  string(APPEND all "${one}\n")
endforeach()
string(SHA256 digest "${all}")
file(WRITE ${OUT} "#pragma once\n#define VOICELIB_CONVERSION_INTERFACE_DIGEST \"${digest}\"\n")
