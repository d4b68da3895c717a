# Renders docs/USER-GUIDE.md into a page Windows opens with a double-click (the browser):
#   cmake -DCMARK=<cmark-gfm> -DIN=<guide.md> -DOUT=<guide.html> -P guide-html.cmake
# The guide's own relative links (its pictures) stay as they are, so the page sits beside them.
execute_process(COMMAND ${CMARK} -e table --to html ${IN} OUTPUT_VARIABLE body
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmark-gfm could not render ${IN}")
endif()
file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>VORLIX Viewer: user guide</title>
<style>
body { font-family: 'Segoe UI', Tahoma, sans-serif; max-width: 60em; margin: 1em auto;
       padding: 0 1em; line-height: 1.4; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; }
code, pre { background: #f3f3f3; }
pre { padding: 0.5em; }
img { max-width: 100%; }
</style>
</head>
<body>
${body}</body>
</html>
")
