# The portable sources of the host interface, the toolkit and the plug-in,
# listed once for both builds: vst2/, vstgui/ and panel/ make the Linux
# build's libraries of them, platform/win32 the Windows cross build's.
# Only the back ends, the entry points and the resources differ.
include_guard(GLOBAL)
get_filename_component(KV_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# What every layer may use: the module's handle.
file(GLOB KV_COMMON_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/common/*.cpp)

# The DSP core every format shares.
file(GLOB KV_DSP_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/dsp/*.cpp)

# The host interface: our VST 2.4 declarations, the effect base classes and
# the editor interface. The entry points (vstplugmain.cpp, dllmain.cpp on
# Windows) are compiled by the plug-in targets alone, so that nothing else
# exports them.
set(KV_ENTRY_SOURCE ${KV_ROOT}/vst2/base/vstplugmain.cpp)
set(KV_WIN32_ENTRY_SOURCE ${KV_ROOT}/vst2/base/dllmain.cpp)
file(GLOB KV_VST_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/vst2/base/*.cpp)
list(REMOVE_ITEM KV_VST_SOURCES ${KV_ENTRY_SOURCE} ${KV_WIN32_ENTRY_SOURCE})

# The toolkit's portable logic.
file(GLOB KV_VSTGUI_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/vstgui/*.cpp)

# The op-amp panel, whatever format shows it: its controls and its seam to
# the format (panel/panel_owner.h).
file(GLOB KV_PANEL_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/panel/*.cpp)

# The effect, without the VST 2 editor base and the two units that define
# createOpampEditor: a program that makes the effect links exactly one of
# those, the panel or "no editor".
set(KV_EDITOR_BASE_SOURCE ${KV_ROOT}/vst2/aeffguieditor.cpp)
set(KV_PLUGIN_EDITOR_SOURCE ${KV_ROOT}/vst2/brackenlume_opamp_gui.cpp)
set(KV_PLUGIN_NO_EDITOR_SOURCE ${KV_ROOT}/vst2/opamp_no_editor.cpp)
file(GLOB KV_PLUGIN_SOURCES CONFIGURE_DEPENDS ${KV_ROOT}/vst2/*.cpp)
list(REMOVE_ITEM KV_PLUGIN_SOURCES ${KV_EDITOR_BASE_SOURCE} ${KV_PLUGIN_EDITOR_SOURCE}
     ${KV_PLUGIN_NO_EDITOR_SOURCE})
