# What keeps the builds short: precompiled headers and unity units.
#
# Precompiled headers. Parsing the Qt Widgets headers is most of what a
# window source costs to compile, so the Qt window targets share one
# precompiled set: pm_ui builds it and the others reuse it (the same compiler,
# flags and Qt definitions in one build folder). -Winvalid-pch makes a set
# the compiler cannot use show up as a warning instead of a silent slowdown.
#
#   pm_use_qt_pch(<target>)   the target compiles with the shared Qt set
#
# Unity units. A library whose sources share many instantiations of the
# standard and Qt templates compiles them as one unit (up to eight sources
# each), so that each instantiation is compiled once. Only libraries whose
# sources keep distinct local names can; a source that cannot join is marked
# SKIP_UNITY_BUILD_INCLUSION with the reason.
#
#   pm_unity(<target>...)

option(PM_PCH "Precompile the Qt and GoogleTest headers" ON)

# The Qt headers of the windows, their generated forms and their tests.
set(PM_QT_PCH_HEADERS
  <QAbstractButton> <QAbstractItemView> <QAction> <QApplication> <QCheckBox>
  <QComboBox> <QCoreApplication> <QDateTime> <QDialog> <QDir> <QDoubleSpinBox>
  <QFile> <QFileDialog> <QFileInfo> <QFrame> <QGridLayout> <QGroupBox>
  <QHBoxLayout> <QHeaderView> <QImage> <QKeyEvent> <QLabel> <QLayout>
  <QLineEdit> <QMainWindow> <QMenu> <QMenuBar> <QMessageBox> <QObject>
  <QPainter> <QPainterPath> <QPalette> <QPointer> <QProgressBar> <QPushButton>
  <QScreen> <QSpacerItem> <QSpinBox> <QString> <QStringList> <QStyle>
  <QTableWidget> <QTemporaryDir> <QTimer> <QToolBar> <QToolButton> <QUrl>
  <QVBoxLayout> <QVariant> <QWidget>
  <algorithm> <array> <chrono> <cstdint> <filesystem> <functional> <map>
  <memory> <optional> <string> <thread> <vector>)

# The GoogleTest programs' set.
set(PM_GTEST_PCH_HEADERS
  <gtest/gtest.h> <algorithm> <array> <chrono> <cstdint> <functional> <map>
  <memory> <optional> <string> <thread> <vector>)

function(pm_use_qt_pch target)
  if(NOT PM_PCH)
    return()
  endif()
  if(target STREQUAL "pm_ui")
    target_precompile_headers(pm_ui PRIVATE ${PM_QT_PCH_HEADERS})
  else()
    target_precompile_headers(${target} REUSE_FROM pm_ui)
  endif()
  target_compile_options(${target} PRIVATE -Winvalid-pch)
endfunction()

option(PM_UNITY "Compile the sources of the listed libraries and of multi-source test programs as unity units" ON)

function(pm_unity)
  foreach(target IN LISTS ARGN)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ${PM_UNITY} UNITY_BUILD_BATCH_SIZE 8)
  endforeach()
endfunction()
