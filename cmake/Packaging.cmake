# `make package`: a Debian package of what `make install` puts in place, for /usr. Library
# dependencies are computed from the executable by dpkg-shlibdeps; what is loaded at run time
# only (Qt's image plugins for TIFF on the clipboard, the sound theme) is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillet")
set(CPACK_PACKAGE_CONTACT "Quillet <quillet@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Снимки экрана по двойному нажатию клавиши")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillet живёт в области уведомлений: двойное нажатие клавиши снимает область, окно или экран; снимок попадает в буфер обмена, в превью и в историю.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop")
include(CPack)
