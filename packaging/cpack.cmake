# The Debian packages: one per install component that exists (see CMakeLists.txt here),
# dependencies computed from the binaries by dpkg-shlibdeps, and in each package the
# copyright file and changelog that Debian's policy asks for. scripts/package.sh runs it.

set(TVQ_DEB_SOURCE tvq)
set(TVQ_DEB_VERSION ${PROJECT_VERSION})
set(TVQ_DEB_MAINTAINER "tvq developers <developers@tvq.invalid>")

# component  package  section  summary
set(_tvq_deb_packages
    "cli|tvq|graphics|enlarge pictures by super-resolution and remove ringing"
    "app|tvq-app|graphics|desktop application to enlarge pictures and remove ringing"
    "lib|libtvq0|libs|picture enlargement and deringing library"
    "dev|libtvq-dev|libdevel|picture enlargement and deringing library (development files)"
    "python|python3-tvq|python|picture enlargement and deringing for Python 3")
set(_tvq_deb_about
    "tvq enlarges bitmap pictures to exactly twice their width and height by\n"
    "iterative super-resolution, and removes the ringing that enlargement and\n"
    "compression leave beside edges with a total-variation line fit. It reads and\n"
    "writes BMP, PNG, JPEG, TIFF, WebP and PFM files.\n")
set(_tvq_deb_more_cli "This package holds the command-line tool tvq, with batches of folders.")
set(_tvq_deb_more_app "This package holds the Qt desktop application tvq-app.")
set(_tvq_deb_more_lib "This package holds the shared library.")
set(_tvq_deb_more_dev "This package holds the headers, the CMake package and the pkg-config\n"
                      "file of the library.")
set(_tvq_deb_more_python "This package holds the Python 3 module tvq.")

# The copyright file (the year of the commit built) and the changelog, compressed as
# Debian's are.
string(SUBSTRING "${TVQ_COMMIT_DATE}" 0 4 TVQ_COPYRIGHT_YEAR)
configure_file(copyright.in copyright @ONLY)
configure_file(changelog.in changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(tvq_deb_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

get_cmake_property(_tvq_components COMPONENTS)
set(_tvq_known)
set(CPACK_COMPONENTS_ALL)
foreach(entry IN LISTS _tvq_deb_packages)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 package)
  list(GET entry 2 section)
  list(GET entry 3 summary)
  list(APPEND _tvq_known ${component})
  if(NOT component IN_LIST _tvq_components)
    continue()
  endif()
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${section})
  string(CONCAT CPACK_COMPONENT_${C}_DESCRIPTION "${summary}\n" ${_tvq_deb_about} "\n"
                ${_tvq_deb_more_${component}})
  # In the package only: a plain `cmake --install` leaves them out.
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()
foreach(component IN LISTS _tvq_components)
  if(NOT component IN_LIST _tvq_known)
    message(WARNING "install component '${component}' belongs to no Debian package "
                    "(packaging/cpack.cmake): its files are not packaged")
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tvq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tvq developers")
set(CPACK_PACKAGE_CONTACT "${TVQ_DEB_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${TVQ_DEB_SOURCE})
set(CPACK_DEBIAN_PACKAGE_VERSION ${TVQ_DEB_VERSION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# Between the packages: the development files go with the library of the same version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
if("lib" IN_LIST CPACK_COMPONENTS_ALL)
  # The shlibs file for the library's users (CPack writes it for every package with a
  # shared library with a soname, which is only libtvq0), and ldconfig run by a
  # trigger, as Debian's policy asks.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/triggers)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  if("dev" IN_LIST CPACK_COMPONENTS_ALL)
    set(CPACK_COMPONENT_DEV_DEPENDS lib)
  endif()
  # Packages whose binaries link the shared library: a target that links it adds its
  # component with set_property(GLOBAL APPEND PROPERTY TVQ_LINKS_LIBTVQ <component>).
  # dpkg-shlibdeps finds the library in the package being made (cpack-project.cmake)
  # but knows no package of it yet, so the dependency is stated here.
  get_property(_tvq_users GLOBAL PROPERTY TVQ_LINKS_LIBTVQ)
  foreach(component IN LISTS _tvq_users)
    string(TOUPPER ${component} C)
    list(APPEND CPACK_COMPONENT_${C}_DEPENDS lib)
  endforeach()
  set(TVQ_DEB_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  configure_file(cpack-project.cmake.in cpack-project.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-project.cmake)
endif()
if("python" IN_LIST CPACK_COMPONENTS_ALL)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    # An extension module is built for one minor version of the interpreter.
    math(EXPR _tvq_next_minor "${Python3_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
        "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${_tvq_next_minor})"
    )
  endif()
endif()

include(CPack)
