# The per-machine MSI of a Windows build, from packaging/tarnwick.wxs with
# the version of the root project():
#   cmake --build --preset mingw --target msi    # wixl, build/mingw/
#   cmake --build --preset msvc --target msi     # WiX 3, build/msvc/
# writes tarnwick-<version>-x64.msi. mingw packages with wixl (through
# packaging/wixl-strict.sh) and tests the package under Wine; MSVC with WiX
# 3's candle and light, where they are found. Included from the root after
# every packaged target exists.

if(MINGW)
  find_program(TARNWICK_WIXL wixl DOC "wixl, the MSI builder of msitools")
else()
  # The WiX 3 installer sets WIX to its folder.
  find_program(TARNWICK_CANDLE candle HINTS "$ENV{WIX}/bin" DOC "WiX 3's compiler")
  find_program(TARNWICK_LIGHT light HINTS "$ENV{WIX}/bin" DOC "WiX 3's linker")
  if(NOT TARNWICK_CANDLE OR NOT TARNWICK_LIGHT)
    message(STATUS "WiX 3 (candle, light) not found: no msi target")
    return()
  endif()
endif()

set(TARNWICK_WXS ${PROJECT_SOURCE_DIR}/packaging/tarnwick.wxs)
set(TARNWICK_WIXL_STRICT ${PROJECT_SOURCE_DIR}/packaging/wixl-strict.sh)
# Must match the Product/@UpgradeCode in the .wxs; it also names the
# per-version product codes below.
set(TARNWICK_UPGRADE_CODE 4661AB68-AD64-442C-BD10-2DE716193916)
# What the package takes from the app folder. flutter_windows builds data/
# (its placeholders) after linking.
set(TARNWICK_PACKAGED_TARGETS tarnwick tunnel flutter_windows ${TARNWICK_PLUGIN_TARGETS})

# The plug-in libraries' components and their references, from the plug-in
# list, for the .wxs to include. A component's GUID is derived from its
# file name, so it stays the same from build to build and version to
# version.
set(TARNWICK_GENERATED_PACKAGING ${CMAKE_BINARY_DIR}/generated/packaging)
set(_components "")
set(_references "")
foreach(row IN LISTS TARNWICK_PLUGINS)
  tarnwick_plugin_fields("${row}" registrar export library)
  string(UUID guid NAMESPACE ${TARNWICK_UPGRADE_CODE} NAME "component:${library}.dll"
         TYPE SHA1 UPPER)
  string(APPEND _components
    "  <Component Id=\"Plugin.${library}\" Guid=\"${guid}\" Win64=\"yes\">\n"
    "    <File Id=\"PluginFile.${library}\" Name=\"${library}.dll\" "
    "Source=\"$(var.AppDir)/${library}.dll\" KeyPath=\"yes\" />\n"
    "  </Component>\n")
  string(APPEND _references "  <ComponentRef Id=\"Plugin.${library}\" />\n")
endforeach()
set(_made_by "<!-- Made by cmake/TarnwickPackaging.cmake from src/windows/plugins.list. -->")
# An included file's elements are in no namespace unless its own root says
# so (namespaces do not carry into it), and WiX 3's compiler takes only its
# own namespace's.
set(TARNWICK_WIX_NAMESPACE "http://schemas.microsoft.com/wix/2006/wi")
set(_include_root "<Include xmlns=\"${TARNWICK_WIX_NAMESPACE}\">")
file(CONFIGURE OUTPUT ${TARNWICK_GENERATED_PACKAGING}/plugin_components.wxi CONTENT
  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n${_made_by}\n${_include_root}\n${_components}</Include>\n")
file(CONFIGURE OUTPUT ${TARNWICK_GENERATED_PACKAGING}/plugin_references.wxi CONTENT
  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n${_made_by}\n${_include_root}\n${_references}</Include>\n")

# The tunnel's names, from the one header that holds them: every
# `inline constexpr wchar_t kName[] = L"value";` line of it becomes
# TARNWICK_IDENTITY_Name, and the package gets the ones it uses as defines.
set(_identity_header ${PROJECT_SOURCE_DIR}/src/platform/tunnel_identity.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_identity_header})
file(STRINGS ${_identity_header} _identity_lines
     REGEX "^inline constexpr wchar_t k[A-Za-z]+\\[\\] = L\".*\";$")
foreach(line IN LISTS _identity_lines)
  string(REGEX REPLACE "^inline constexpr wchar_t k([A-Za-z]+).*$" "\\1" name "${line}")
  string(REGEX REPLACE "^[^\"]*\"(.*)\";$" "\\1" value "${line}")
  string(REPLACE "\\\\" "\\" value "${value}")  # the C++ escape of a backslash
  set(TARNWICK_IDENTITY_${name} "${value}")
endforeach()
set(TARNWICK_PACKAGE_IDENTITY "")
foreach(name TunnelServiceName ConfigFolderName ConfigFileName EventSourceName PolicyKey
             UpgradeInProgressValue)
  if(NOT DEFINED TARNWICK_IDENTITY_${name})
    message(FATAL_ERROR "packaging: ${_identity_header} has no k${name}")
  endif()
  list(APPEND TARNWICK_PACKAGE_IDENTITY "${name}=${TARNWICK_IDENTITY_${name}}")
endforeach()

# Every source the package's compiler reads has the WiX namespace on its
# root: the .wxs and whatever is generated for it to include.
add_test(NAME wix_namespace_test
  COMMAND ${CMAKE_COMMAND} -D FILES=${TARNWICK_WXS} -D FOLDERS=${TARNWICK_GENERATED_PACKAGING}
          -D NAMESPACE=${TARNWICK_WIX_NAMESPACE}
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckWixNamespace.cmake)

# tarnwick_add_msi(<target> <version> <output .msi>)
# One package of the app folder with the given version. Its product code is
# derived from the version: every build of one version is the same product.
function(tarnwick_add_msi target version output)
  string(UUID product_code NAMESPACE ${TARNWICK_UPGRADE_CODE}
         NAME "tarnwick-x64-${version}" TYPE SHA1 UPPER)
  if(NOT MINGW)
    list(TRANSFORM TARNWICK_PACKAGE_IDENTITY PREPEND "-d" OUTPUT_VARIABLE identity)
    set(object ${CMAKE_BINARY_DIR}/${target}.wixobj)
    add_custom_command(OUTPUT ${output}
      COMMAND ${TARNWICK_CANDLE} -nologo -arch x64 -out ${object}
              -dVersion=${version} -dProductCode=${product_code}
              -dAppDir=${TARNWICK_APP_DIR} -dIconFile=${PROJECT_SOURCE_DIR}/src/resources/app.ico
              -dGenerated=${TARNWICK_GENERATED_PACKAGING} ${identity}
              ${TARNWICK_WXS}
      COMMAND ${TARNWICK_LIGHT} -nologo -out ${output} ${object}
      DEPENDS ${TARNWICK_WXS} ${_identity_header} ${PROJECT_SOURCE_DIR}/src/resources/app.ico
              ${TARNWICK_GENERATED_PACKAGING}/plugin_components.wxi
              ${TARNWICK_GENERATED_PACKAGING}/plugin_references.wxi
              ${TARNWICK_PACKAGED_TARGETS}
      COMMENT "Packaging ${output}"
      VERBATIM)
    add_custom_target(${target} DEPENDS ${output})
    return()
  endif()
  # wixl finds sources only relative to its working folder; the define
  # Wixl selects what only wixl needs in the .wxs.
  file(RELATIVE_PATH app_dir ${CMAKE_BINARY_DIR} ${TARNWICK_APP_DIR})
  file(RELATIVE_PATH icon_file ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/src/resources/app.ico)
  file(RELATIVE_PATH generated ${CMAKE_BINARY_DIR} ${TARNWICK_GENERATED_PACKAGING})
  set(identity "")
  foreach(define IN LISTS TARNWICK_PACKAGE_IDENTITY)
    list(APPEND identity -D "${define}")
  endforeach()
  if(TARNWICK_WIXL)
    set(wixl_env WIXL=${TARNWICK_WIXL})
  else()
    set(wixl_env WIXL=wixl)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E env ${wixl_env}
            bash ${TARNWICK_WIXL_STRICT} ${CMAKE_BINARY_DIR} ${output} ${TARNWICK_WXS}
            -D Version=${version} -D ProductCode=${product_code}
            -D AppDir=${app_dir} -D IconFile=${icon_file} -D Generated=${generated} -D Wixl=1
            ${identity}
    DEPENDS ${TARNWICK_WXS} ${TARNWICK_WIXL_STRICT} ${_identity_header}
            ${TARNWICK_GENERATED_PACKAGING}/plugin_components.wxi
            ${TARNWICK_GENERATED_PACKAGING}/plugin_references.wxi
            ${PROJECT_SOURCE_DIR}/src/resources/app.ico ${TARNWICK_PACKAGED_TARGETS}
    COMMENT "Packaging ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

set(TARNWICK_MSI ${CMAKE_BINARY_DIR}/tarnwick-${PROJECT_VERSION}-x64.msi)
tarnwick_add_msi(msi ${PROJECT_VERSION} ${TARNWICK_MSI})
# The install test below runs under Wine.
if(NOT MINGW)
  return()
endif()

# The install test's second package: the same source with a lower version,
# to upgrade from and to refuse as a downgrade.
set(TARNWICK_MSI_OLDER_VERSION 0.9.0)
if(NOT TARNWICK_MSI_OLDER_VERSION VERSION_LESS PROJECT_VERSION)
  message(FATAL_ERROR "packaging: the test's older version ${TARNWICK_MSI_OLDER_VERSION} is not older than ${PROJECT_VERSION}")
endif()
set(TARNWICK_MSI_OLDER ${CMAKE_BINARY_DIR}/tests/install/tarnwick-${TARNWICK_MSI_OLDER_VERSION}-x64.msi)
tarnwick_add_msi(msi_older ${TARNWICK_MSI_OLDER_VERSION} ${TARNWICK_MSI_OLDER})

# A program that holds a file open without sharing its deletion, for the
# uninstall that meets one.
add_executable(msi_test_hold_file ${PROJECT_SOURCE_DIR}/tests/install/fixtures/hold_file.cpp)
set_target_properties(msi_test_hold_file PROPERTIES OUTPUT_NAME hold_file
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/install)
target_link_options(msi_test_hold_file PRIVATE -municode)

# Install, service, uninstall, upgrade while connected, downgrade and an
# uninstall that meets a link and a held file, in a Wine prefix of the
# test's own; the debugger-output monitor keeps the prefix (and so the
# service) alive and records the service's lines.
add_test(NAME msi_install_test
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/msi_test.sh
          --msi ${TARNWICK_MSI} --version ${PROJECT_VERSION}
          --older-msi ${TARNWICK_MSI_OLDER} --older-version ${TARNWICK_MSI_OLDER_VERSION}
          --app-dir ${TARNWICK_APP_DIR} --icon ${PROJECT_SOURCE_DIR}/src/resources/app.ico
          --monitor ${TARNWICK_TOOLS_DIR}/dbwin_monitor.exe
          --holder $<TARGET_FILE:msi_test_hold_file>
          --work-dir ${CMAKE_BINARY_DIR}/msi-test)
set_tests_properties(msi_install_test PROPERTIES
  RESOURCE_LOCK wine_services TIMEOUT 420 LABELS "e2e;wine")
