# Installing the serial component as a library: static libraries, headers and the CMake
# package OrviSerial (find_package(OrviSerial) gives the target OrviSerial::OrviSerial).
#
# Headers keep the paths the sources use ("serial/ComPort.h", "platform/MessageTarget.h"),
# below one include root of their own, include/orvi.
set(ORVI_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/orvi)
set(ORVI_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrviSerial)

# The source root as include folder in the build tree, the include root when installed.
function(orvi_library_includes target)
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
        $<INSTALL_INTERFACE:${ORVI_INSTALL_INCLUDEDIR}>)
endfunction()

# Installs the static libraries of the serial component that a folder defines into the
# export set, with the folder's headers except the files named after EXCLUDE.
function(orvi_install_serial_libraries)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "EXCLUDE")
    install(TARGETS ${arg_UNPARSED_ARGUMENTS} EXPORT OrviSerialTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
        ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(arg_EXCLUDE)
        list(REMOVE_ITEM headers ${arg_EXCLUDE})
    endif()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    install(FILES ${headers} DESTINATION ${ORVI_INSTALL_INCLUDEDIR}/${folder} COMPONENT dev)
endfunction()

# The exported targets and the package's configuration and version files; called once,
# after the libraries are defined.
function(orvi_install_serial_package)
    include(CMakePackageConfigHelpers)
    install(EXPORT OrviSerialTargets NAMESPACE OrviSerial::
        DESTINATION ${ORVI_INSTALL_CMAKEDIR} COMPONENT dev)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrviSerialConfig.cmake.in
        ${PROJECT_BINARY_DIR}/OrviSerialConfig.cmake
        INSTALL_DESTINATION ${ORVI_INSTALL_CMAKEDIR})
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrviSerialConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/OrviSerialConfig.cmake
        ${PROJECT_BINARY_DIR}/OrviSerialConfigVersion.cmake
        DESTINATION ${ORVI_INSTALL_CMAKEDIR} COMPONENT dev)
endfunction()
