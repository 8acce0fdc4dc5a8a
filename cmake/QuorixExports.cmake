# The library's exported names come from one list, src/api/exports.list, for both builds: each
# line holds a name and the builds that export it (both, linux or windows). From it the build
# writes the Linux version script, which names every export and hides everything else, and the
# Windows module-definition file of QuorixSdk_252DIV_USB3_R5.dll. A line that cannot be read or a
# name listed twice stops the configuration.
function(quorix_generate_exports listFile versionScript moduleDefinition)
  file(STRINGS ${listFile} lines)
  set(linuxNames "")
  set(windowsNames "")
  set(seen "")
  set(lineNumber 0)
  foreach(line IN LISTS lines)
    math(EXPR lineNumber "${lineNumber} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^(Quorix_[A-Za-z0-9_]+)[ \t]+(both|linux|windows)$")
      message(FATAL_ERROR "${listFile}:${lineNumber}: expected a Quorix_ name and both, linux "
                          "or windows, found \"${line}\"")
    endif()
    set(name ${CMAKE_MATCH_1})
    set(builds ${CMAKE_MATCH_2})
    if(name IN_LIST seen)
      message(FATAL_ERROR "${listFile}:${lineNumber}: ${name} is listed twice")
    endif()
    list(APPEND seen ${name})
    if(NOT builds STREQUAL "windows")
      string(APPEND linuxNames "    ${name};\n")
    endif()
    if(NOT builds STREQUAL "linux")
      string(APPEND windowsNames "    ${name}\n")
    endif()
  endforeach()
  if(linuxNames STREQUAL "" OR windowsNames STREQUAL "")
    message(FATAL_ERROR "${listFile}: no names for one of the builds")
  endif()
  # Written only when the text changes, so that configuring again relinks nothing.
  file(CONFIGURE OUTPUT ${versionScript} @ONLY CONTENT
"/* Generated from src/api/exports.list: the names libquorix.so exports. */
{
  global:
${linuxNames}  local:
    *;
};
")
  file(CONFIGURE OUTPUT ${moduleDefinition} @ONLY CONTENT
"; Generated from src/api/exports.list: the names QuorixSdk_252DIV_USB3_R5.dll exports.
LIBRARY QuorixSdk_252DIV_USB3_R5
EXPORTS
${windowsNames}")
  # Editing the list configures again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${listFile})
endfunction()
