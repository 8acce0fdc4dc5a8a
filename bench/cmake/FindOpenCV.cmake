# Finds the OpenCV modules a side-by-side benchmark asks for (find_package(OpenCV REQUIRED
# COMPONENTS core imgproc)) and provides them as the targets opencv_<module>, the names OpenCV's
# own package configuration uses. That configuration comes only with Debian's libopencv-dev, which
# pulls in every OpenCV module and its toolkits; the module packages the comparisons need
# (libopencv-core-dev, libopencv-imgproc-dev, see scripts/install-deps.sh) carry headers and
# libraries alone. So the configuration is used when present, else the modules are found directly.
find_package(OpenCV CONFIG QUIET COMPONENTS ${OpenCV_FIND_COMPONENTS})
if(OpenCV_FOUND)
  return()
endif()

find_path(OpenCV_INCLUDE_DIR opencv2/core/version.hpp PATH_SUFFIXES opencv4)
if(OpenCV_INCLUDE_DIR)
  file(STRINGS ${OpenCV_INCLUDE_DIR}/opencv2/core/version.hpp version_lines
       REGEX "^#define CV_VERSION_(MAJOR|MINOR|REVISION) +[0-9]+")
  foreach(part MAJOR MINOR REVISION)
    string(REGEX REPLACE ".*CV_VERSION_${part} +([0-9]+).*" "\\1" OpenCV_VERSION_${part}
           "${version_lines}")
  endforeach()
  set(OpenCV_VERSION
      "${OpenCV_VERSION_MAJOR}.${OpenCV_VERSION_MINOR}.${OpenCV_VERSION_REVISION}")
endif()

set(OpenCV_LIBS "")
foreach(module IN LISTS OpenCV_FIND_COMPONENTS)
  find_library(OpenCV_${module}_LIBRARY opencv_${module})
  set(OpenCV_${module}_FOUND FALSE)
  if(OpenCV_INCLUDE_DIR AND OpenCV_${module}_LIBRARY)
    if(NOT TARGET opencv_${module})
      add_library(opencv_${module} UNKNOWN IMPORTED)
      set_target_properties(opencv_${module} PROPERTIES
        IMPORTED_LOCATION ${OpenCV_${module}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${OpenCV_INCLUDE_DIR})
    endif()
    set(OpenCV_${module}_FOUND TRUE)
    list(APPEND OpenCV_LIBS opencv_${module})
  endif()
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV
  REQUIRED_VARS OpenCV_INCLUDE_DIR OpenCV_LIBS
  VERSION_VAR OpenCV_VERSION
  HANDLE_COMPONENTS)
mark_as_advanced(OpenCV_INCLUDE_DIR)
