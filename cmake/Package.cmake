# `make package`: a Debian package of the release build, made by CPack from
# the install rules. Library dependencies come from dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME slicewright)
set(CPACK_PACKAGE_VENDOR "The Slicewright developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut a page design into a table of web images")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Independent of the umask of whoever builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(SLICEWRIGHT_PACKAGE_MAINTAINER "The Slicewright developers <maintainers@slicewright.example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SLICEWRIGHT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://slicewright.example.org)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Tesseract reads its English data, and Qt loads its windowing plugins, at
# run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tesseract-ocr-eng")
if(TARGET slicewright)
  string(PREPEND CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ")
endif()
# The synopsis line comes from the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Slicewright is a desktop tool for web designers. Open a picture of a
finished page design, place vertical and horizontal cut lines over it with
the mouse, and generate: the picture is cut along every line into a grid of
cells, each written as its own image (GIF with the web-safe or an adaptive
palette, PNG, JPEG, WebP, or per cell the smallest good file; one colour
left transparent when the user picks one), together with a page that puts
the cells back together in a browser, in the classic, html5, email or grid
style.

The package also holds slicewright-cli, which runs the same cuts without a
display, for scripts and build pipelines.")

include(CPack)
