# What the desktop integration shares between the window's build and the install rules.

# The icon rendered from desktop/pellavo.svg: installed as the 256 px theme icon and compiled into
# the window as its own icon.
set(PELLAVO_ICON_SVG "${PROJECT_SOURCE_DIR}/desktop/pellavo.svg")
set(PELLAVO_ICON_PNG "${PROJECT_BINARY_DIR}/icons/pellavo.png")
set(PELLAVO_ICON_SIZE 256)

# The site a page address lies on: "https://www.example.com/Pellavo.html" -> "https://www.example.com".
function(pellavo_site_of url out_var)
  if(NOT url MATCHES "^([a-zA-Z][a-zA-Z0-9+.-]*://[^/?#]+)")
    message(FATAL_ERROR "Not an absolute web address: ${url}")
  endif()
  set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The reverse-DNS ID that names the desktop entry and the metainfo file, taken from the project's
# site so that it changes only with the site: "https://www.example.com/..." -> "com.example.Pellavo".
# Hyphens are not allowed in the ID's parts.
function(pellavo_desktop_id url out_var)
  pellavo_site_of("${url}" site)
  string(REGEX REPLACE "^[^:]+://([^@]*@)?" "" host "${site}")
  string(REGEX REPLACE ":[0-9]+$" "" host "${host}")
  string(TOLOWER "${host}" host)
  string(REGEX REPLACE "^www\\." "" host "${host}")
  string(REPLACE "-" "_" host "${host}")
  string(REPLACE "." ";" labels "${host}")
  list(REVERSE labels)
  list(JOIN labels "." reversed)
  set(${out_var} "${reversed}.Pellavo" PARENT_SCOPE)
endfunction()

# Renders PELLAVO_ICON_SVG into PELLAVO_ICON_PNG. Call it in the folder of the target that
# compiles the PNG in, so that the build knows who makes the file.
function(pellavo_render_icon)
  find_program(PELLAVO_RSVG_CONVERT rsvg-convert REQUIRED)
  get_filename_component(dir "${PELLAVO_ICON_PNG}" DIRECTORY)
  add_custom_command(
    OUTPUT "${PELLAVO_ICON_PNG}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${dir}"
    COMMAND "${PELLAVO_RSVG_CONVERT}" --width ${PELLAVO_ICON_SIZE} --height ${PELLAVO_ICON_SIZE}
            --output "${PELLAVO_ICON_PNG}" "${PELLAVO_ICON_SVG}"
    DEPENDS "${PELLAVO_ICON_SVG}"
    COMMENT "Rendering the ${PELLAVO_ICON_SIZE} px icon"
    VERBATIM)
endfunction()
