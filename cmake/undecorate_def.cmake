# Writes OUTPUT: the module definition file SOURCE without the 32-bit
# stdcall decorations (the @N after each name).
#   cmake -DSOURCE=in.def -DOUTPUT=out.def -P undecorate_def.cmake
file(READ ${SOURCE} text)
string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
file(WRITE ${OUTPUT} "${text}")
