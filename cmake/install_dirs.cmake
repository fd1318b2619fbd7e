# Installation directories (GNUInstallDirs), settled before any subdirectory includes
# GNUInstallDirs itself (GoogleTest's sources do).
if(WIN32)
  # A Windows zip unpacks into one folder: the program beside its README and licence. The
  # usual layout is still -DCMAKE_INSTALL_BINDIR=bin -DCMAKE_INSTALL_DOCDIR=share/doc/reelfix.
  foreach(dir BINDIR DOCDIR)
    if(NOT DEFINED CMAKE_INSTALL_${dir})
      set(CMAKE_INSTALL_${dir} . CACHE PATH "Installation directory (GNUInstallDirs)")
    endif()
  endforeach()
endif()
include(GNUInstallDirs)
