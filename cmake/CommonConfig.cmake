# Shared compile settings for every target of the project.
add_library(orvanta_common INTERFACE)
target_compile_features(orvanta_common INTERFACE cxx_std_20)
target_compile_options(orvanta_common INTERFACE -Wall -Wextra -Wno-unused-parameter)
target_compile_definitions(orvanta_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER
  ORVANTA_VERSION="${PROJECT_VERSION}"
  ORVANTA_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  ORVANTA_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  ORVANTA_VERSION_PATCH=${PROJECT_VERSION_PATCH})
