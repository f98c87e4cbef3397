# cpack -G DEB: kestrix_<version>_amd64.deb with everything cmake --install
# puts under /usr, the Python package for Debian's python3 included.
set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quantora)
set(CPACK_PACKAGE_CONTACT "Kestrix developers <kestrix@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "option-pricing library: plain options under eight models")
set(CPACK_PACKAGE_DESCRIPTION "Kestrix prices plain (vanilla) options, one number per call: the value, a
sensitivity, an implied volatility or an implied strike, under eight models
(generalized and French Black-Scholes, a binomial lattice, two American
approximations, jump-diffusion, an American call with a dividend, and options
on Eurodollar futures).
.
This package holds the kestrix command, the shared library libkestrix.so (an
in-process automation server and the C++ interface <kestrix/kestrix.hpp>, with
its CMake package and pkg-config file), and the Python package kestrix.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES /build/ "/[.]git/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: the C and C++ runtimes from the binaries themselves, and what the
# Python package needs of Debian's python3 (this interpreter's minor version:
# the compiled module is built for it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/triggers)
if(TARGET _kestrix)
  set(major ${KESTRIX_PYTHON_VERSION_MAJOR})
  math(EXPR nextMinor "${KESTRIX_PYTHON_VERSION_MINOR} + 1")
  set(pythonDepends "python3 (>= ${major}.${KESTRIX_PYTHON_VERSION_MINOR}), python3 (<< ${major}.${nextMinor}), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${pythonDepends}")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib, python3-pandas, python3-dask, python3-distributed")
endif()

set(CPACK_GENERATOR DEB)
include(CPack)
