# QCustomPlot compiled from Debian's source package into the program, for the Windows build,
# under the name the Linux package gives it.
set(VOLTRAK_QCUSTOMPLOT_SOURCE "" CACHE PATH "Folder holding qcustomplot.cpp and qcustomplot.h")
if(NOT EXISTS "${VOLTRAK_QCUSTOMPLOT_SOURCE}/qcustomplot.cpp")
  message(FATAL_ERROR "VOLTRAK_QCUSTOMPLOT_SOURCE must name QCustomPlot's source folder")
endif()
add_library(qcustomplot STATIC "${VOLTRAK_QCUSTOMPLOT_SOURCE}/qcustomplot.cpp")
target_include_directories(qcustomplot SYSTEM PUBLIC "${VOLTRAK_QCUSTOMPLOT_SOURCE}")
target_link_libraries(qcustomplot PUBLIC Qt6::Widgets Qt6::PrintSupport)
set_target_properties(qcustomplot PROPERTIES AUTOMOC ON)
add_library(QCustomPlotQt6::QCustomPlotQt6 ALIAS qcustomplot)
