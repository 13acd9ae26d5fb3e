# Drawing without a display: cairo surfaces, pango text through fontconfig,
# gdk-pixbuf image reading (libpng for PNGs too large to read whole); GIF
# writing with giflib; MIDI through the ALSA sequencer or FluidSynth.
pkg_check_modules(TARV_DRAW REQUIRED IMPORTED_TARGET cairo pangocairo fontconfig gdk-pixbuf-2.0 libpng alsa fluidsynth)
find_library(TARV_GIF_LIBRARY gif REQUIRED)

# The main window, its buttons and the output pane: FLTK 1.3 over X11.
find_library(TARV_FLTK_LIBRARY fltk REQUIRED)
find_package(X11 REQUIRED)

# The window and its screen family (which speaks through the mail module's
# voice object); the program loads it for every mode but hide, and in hide
# mode at the first screen or gif statement.
tarv_family_module(window FAMILY ScreenFamily MAIN WindowMain
                   LIBRARIES PkgConfig::TARV_DRAW ${TARV_GIF_LIBRARY} ${TARV_FLTK_LIBRARY} X11::X11
                   MODULES mail)
