# Drawing without a display: cairo surfaces, pango text through fontconfig,
# gdk-pixbuf image reading; GIF writing with giflib; MIDI through the ALSA
# sequencer or FluidSynth.
pkg_check_modules(TARV_DRAW REQUIRED IMPORTED_TARGET cairo pangocairo fontconfig gdk-pixbuf-2.0 alsa fluidsynth)
find_library(TARV_GIF_LIBRARY gif REQUIRED)
target_link_libraries(tarvcore PUBLIC PkgConfig::TARV_DRAW ${TARV_GIF_LIBRARY})
