# Package of the exchange-container library: find_package(KestoContainer) gives the static
# libraries as Kesto::ContainerModel (the exchange model, with everything below it),
# Kesto::ContainerStorage and Kesto::PlatformStorage.
include(CMakeFindDependencyMacro)
find_dependency(ZLIB)
include(${CMAKE_CURRENT_LIST_DIR}/KestoContainerTargets.cmake)
