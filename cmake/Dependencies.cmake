# Every outside library, found once for the whole tree. Debian package names are in
# scripts/install-deps.sh.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Network WebSockets DBus Gui Widgets)
find_package(QCoro6 REQUIRED COMPONENTS Core Network WebSockets DBus)
find_package(Boost 1.81 REQUIRED COMPONENTS json)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
# wslay codes WebSocket frames without owning a socket, which the daemon proxy's stdio pipe needs.
find_package(wslay REQUIRED)
