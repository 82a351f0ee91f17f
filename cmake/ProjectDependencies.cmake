# Third-party libraries, all from the distribution (scripts/bootstrap.sh
# installs them).

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma>=5.4)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-16)
pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
pkg_check_modules(DBUS REQUIRED IMPORTED_TARGET dbus-1)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
# The wizard and its toolkit only (see orvi_add_qt_library).
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)

# Keys typed on an X server by the tests and benchmarks of the wizard.
if(ORVI_BUILD_TESTS OR ORVI_BUILD_BENCHMARKS)
  pkg_check_modules(XCB_XTEST REQUIRED IMPORTED_TARGET xcb-xtest)
endif()
if(ORVI_BUILD_TESTS)
  find_package(GTest REQUIRED)
  # QTest drives the widgets in the toolkit's tests.
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  include(GoogleTest)
endif()
if(ORVI_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  pkg_check_modules(LIBXML2 IMPORTED_TARGET libxml-2.0)
  pkg_check_modules(INIH IMPORTED_TARGET inih)
endif()
