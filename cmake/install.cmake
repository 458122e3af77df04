# What `cmake --install` puts under the prefix: the programs in bin/ and their
# manual pages in share/man/man1/. Included at the end of the top-level list, when
# every program target is defined; the batch program is installed once it exists.
include(GNUInstallDirs)
install(TARGETS quintolex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET quintolex-batch)
  install(TARGETS quintolex-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/man/quintolex.1 ${PROJECT_SOURCE_DIR}/man/quintolex-batch.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
