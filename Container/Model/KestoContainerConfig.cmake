# Package of the exchange-container library: find_package(KestoContainer) gives the static
# libraries as Kesto::ContainerModel (the exchange model, with everything below it),
# Kesto::ContainerStorage and Kesto::PlatformStorage, and the XLIFF bridge as Kesto::ContainerXliff.
include(CMakeFindDependencyMacro)
find_dependency(ZLIB)
find_dependency(EXPAT)
include(${CMAKE_CURRENT_LIST_DIR}/KestoContainerTargets.cmake)
