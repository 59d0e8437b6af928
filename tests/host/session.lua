-- A headless Ardour session around the plug-in, driven by test_ardour.py.
-- Two busses hear the same generator input: "Drive" runs it through the
-- plug-in into the left master input, "Raw" passes it untouched into the
-- right one, so one export holds both what the plug-in got and what it made.
-- The session is exported, saved, closed, loaded again and exported again.
-- With KV_PHASE "create" the script stops after the save, with "load" it
-- starts at the load (the test changes the saved file in between).
-- Settings come from the environment; results are printed as KV lines.
local dir = os.getenv("KV_SESSION_DIR")
local name = os.getenv("KV_SESSION_NAME")
local rate = tonumber(os.getenv("KV_RATE"))
local seconds = tonumber(os.getenv("KV_SECONDS"))
local float_preset = os.getenv("KV_FLOAT_PRESET")
local wav_preset = os.getenv("KV_WAV_PRESET")
-- LXVST (the default), LV2 or VST3: the same effect through each format.
local plugin_type = ARDOUR.PluginType[os.getenv("KV_PLUGIN_TYPE") or "LXVST"]
local phase = os.getenv("KV_PHASE") or "both"
local after_preset = os.getenv("KV_AFTER_PRESET") or wav_preset
local after_name = os.getenv("KV_AFTER_NAME") or "after16"
local values = {}
for v in string.gmatch(os.getenv("KV_PARAMS"), "[^,]+") do values[#values + 1] = tonumber(v) end

-- Ardour connects new routes from a thread of its own; with that on, it
-- would race our own connections below. We connect everything ourselves.
ARDOUR.config():set_input_auto_connect(ARDOUR.AutoConnectOption.ManualConnect)
ARDOUR.config():set_output_auto_connect(ARDOUR.AutoConnectOption.ManualConnect)

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
backend:set_device_name(os.getenv("KV_GENERATOR"))
backend:set_sample_rate(rate)
assert(AudioEngine:start(false) == 0, "the dummy audio engine did not start")

if phase ~= "load" then
Session = create_session(dir, name, rate)
assert(Session, "no session")
end

-- Busses rather than tracks: a bus always hears its input, so nothing has to
-- switch monitoring while the engine runs.
local function add_bus(bus_name, inputs, outputs)
  local list = Session:new_audio_route(inputs, outputs, nil, 1, bus_name,
    ARDOUR.PresentationInfo.Flag.AudioBus, ARDOUR.PresentationInfo.max_order)
  local b = list:front()
  b:input():disconnect_all(nil)
  b:output():disconnect_all(nil)
  return b
end

-- One export per session: Ardour 7 can free shared export buffers twice
-- when a second exporter of the same session is destroyed.
local function exporter()
  local e = Session:simple_export()
  return function(file_name, preset)
    assert(e:set_preset(preset), "unknown export preset " .. preset)
    e:set_folder(dir .. "/export")
    e:set_name(file_name)
    e:set_range(0, math.floor(rate * seconds))
    assert(e:check_outputs(), "nothing to export")
    assert(e:run_export(), "the export failed")
    print("KV_EXPORTED " .. file_name)
  end
end

-- Everything that holds Ardour objects lives inside functions, and the
-- garbage collector runs before a session closes: a route, port or IO that
-- Lua still held after its session was gone would be destroyed too late.
local function build()
  local drive = add_bus("Drive", 2, 2)
  local raw = add_bus("Raw", 1, 1)
  local master_in = Session:master_out():input()
  -- The plug-in's right input stays unconnected (silence); its channels are
  -- independent, so the left output depends on the left input alone.
  assert(drive:input():audio(0):connect("system:capture_1") == 0)
  assert(raw:input():audio(0):connect("system:capture_1") == 0)
  assert(drive:output():audio(0):connect(master_in:audio(0):name()) == 0)
  assert(raw:output():audio(0):connect(master_in:audio(1):name()) == 0)

  local plugin = ARDOUR.LuaAPI.new_plugin(Session, "KV23-T ZuDiz", plugin_type, "")
  assert(not plugin:isnil(), "Ardour did not find the plug-in")
  assert(drive:add_processor_by_index(plugin, 0, nil, true) == 0, "the plug-in was not added")
  for i = 1, #values do ARDOUR.LuaAPI.set_processor_param(plugin, i - 1, values[i]) end
  print("KV_ADDED")
end

local function first_session()
  build()
  exporter()("before", float_preset)
end
if phase ~= "load" then
  first_session()
  collectgarbage("collect")
  Session:save_state("", false, false, false, false, false)
  close_session()
  if phase == "create" then
    print("KV_DONE")
    return
  end
end

Session = load_session(dir, name)
assert(Session, "the saved session did not load")
local function second_session()
  local again = Session:route_by_name("Drive"):nth_plugin(0)
  assert(not again:isnil(), "the plug-in is missing after loading")
  for i = 1, #values do
    print(string.format("KV_PARAM %d %.9g", i - 1, ARDOUR.LuaAPI.get_processor_param(again, i - 1)))
  end
  -- Ardour's stock WAV preset this time (16-bit, dithered), unless the test
  -- asks for another.
  exporter()(after_name, after_preset)
end
second_session()
collectgarbage("collect")
close_session()
print("KV_DONE")
