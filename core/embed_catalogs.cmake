# Writes OUTPUT, a C++ file that holds the compiled catalogs CATALOGS
# ("language=path.mo|...") as byte arrays, for BuiltinCatalogs().
string(REPLACE "|" ";" CATALOGS "${CATALOGS}")
set(body "")
set(table "")
foreach(item IN LISTS CATALOGS)
  string(REPLACE "=" ";" pair "${item}")
  list(GET pair 0 language)
  list(GET pair 1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(MAKE_C_IDENTIFIER "${language}" id)
  string(APPEND body "const char CATALOG_${id}[] = {${bytes}};\n")
  string(APPEND table "    {\"${language}\", std::string_view(CATALOG_${id}, ${size})},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Made at build time from po/; do not edit.\n"
  "#include \"core/catalog.h\"\n\n"
  "namespace voicelib {\nnamespace {\n${body}const BuiltinCatalog CATALOGS[] = {\n${table}};\n} // namespace\n\n"
  "std::span<const BuiltinCatalog> BuiltinCatalogs()\n{\n    return CATALOGS;\n}\n\n} // namespace voicelib\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
