# One interface target carries the project's compile settings; every target links it.
add_library(kn_compile_settings INTERFACE)
target_compile_features(kn_compile_settings INTERFACE cxx_std_20)
target_compile_options(kn_compile_settings INTERFACE
    -Wall -Wextra -pedantic -Wold-style-cast -Wnon-virtual-dtor -Wsuggest-override
    $<$<BOOL:${KESTRELNOTE_WERROR}>:-Werror>)
target_compile_definitions(kn_compile_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_KEYWORDS
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER
    QT_MESSAGELOGCONTEXT)
# Includes are written from the project root ("store/ClipKind.h").
target_include_directories(kn_compile_settings INTERFACE ${PROJECT_SOURCE_DIR})
