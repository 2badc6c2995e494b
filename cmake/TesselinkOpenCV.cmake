# OpenCV's modules, by name: `tl_find_opencv(core imgproc)` gives the imported
# targets opencv_core and opencv_imgproc and sets OpenCV_INCLUDE_DIRS,
# OpenCV_LIBS and OpenCV_VERSION in the caller's scope.
# OpenCV's own CMake package comes only with libopencv-dev, which depends on
# every module's -dev package (VTK, GDAL, HDF5, Tesseract and the rest: about
# 230 packages more for a first build). Where it is installed (the test
# command's set-up) it gives the targets; where it is not (the main job's), each
# module is found by itself from its own -dev package: its headers and its
# library, under the same target name. A module that is not installed stops the
# configure step, naming its library and Debian package.
macro(tl_find_opencv)
  find_package(OpenCV 4 QUIET COMPONENTS ${ARGN})
  if(OpenCV_FOUND)
    message(STATUS "OpenCV ${OpenCV_VERSION} (its CMake package): ${ARGN}")
  else()
    tl_find_opencv_modules(${ARGN})
  endif()
endmacro()

macro(tl_find_opencv_modules)
  set(OpenCV_LIBS)
  find_path(TL_OPENCV_INCLUDE_DIR opencv2/core/version.hpp PATH_SUFFIXES opencv4)
  if(NOT TL_OPENCV_INCLUDE_DIR)
    message(FATAL_ERROR "OpenCV's headers (opencv2/core/version.hpp) are not installed: Debian package libopencv-core-dev")
  endif()
  file(STRINGS ${TL_OPENCV_INCLUDE_DIR}/opencv2/core/version.hpp tl_opencv_version_lines
       REGEX "^#define CV_VERSION_(MAJOR|MINOR|REVISION) +[0-9]+")
  set(tl_opencv_version_parts)
  foreach(tl_part MAJOR MINOR REVISION)
    string(REGEX MATCH "CV_VERSION_${tl_part} +([0-9]+)" tl_opencv_match "${tl_opencv_version_lines}")
    list(APPEND tl_opencv_version_parts ${CMAKE_MATCH_1})
  endforeach()
  list(JOIN tl_opencv_version_parts "." OpenCV_VERSION)
  if(OpenCV_VERSION VERSION_LESS 4)
    message(FATAL_ERROR "OpenCV ${OpenCV_VERSION} found in ${TL_OPENCV_INCLUDE_DIR}: version 4 is needed")
  endif()
  set(OpenCV_INCLUDE_DIRS ${TL_OPENCV_INCLUDE_DIR})
  foreach(tl_module ${ARGN})
    if(NOT TARGET opencv_${tl_module})
      find_library(TL_OPENCV_${tl_module}_LIBRARY opencv_${tl_module})
      if(NOT TL_OPENCV_${tl_module}_LIBRARY)
        string(REPLACE "_" "-" tl_module_package "${tl_module}")
        message(FATAL_ERROR "OpenCV's ${tl_module} module (libopencv_${tl_module}.so) is not installed: "
                            "Debian package libopencv-${tl_module_package}-dev")
      endif()
      add_library(opencv_${tl_module} SHARED IMPORTED GLOBAL)
      set_target_properties(opencv_${tl_module} PROPERTIES
        IMPORTED_LOCATION ${TL_OPENCV_${tl_module}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${TL_OPENCV_INCLUDE_DIR})
    endif()
    list(APPEND OpenCV_LIBS opencv_${tl_module})
  endforeach()
  list(REMOVE_DUPLICATES OpenCV_LIBS)
  message(STATUS "OpenCV ${OpenCV_VERSION} (each module's -dev package): ${OpenCV_LIBS} (${TL_OPENCV_INCLUDE_DIR})")
endmacro()
