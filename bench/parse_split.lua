-- The split of bench_parse.cpp in Lua: the same 100,000 CSV-like lines,
-- split into their 600,000 fields with a pattern, and the fields counted.
-- Prints the best of five runs.
local parts = {}
for i = 0, 99999 do
  parts[#parts + 1] = string.format("row%d,alpha beta,%d,3.%d,\"quoted text\",last field\n", i, i * 7 % 1000, i % 97)
end
local text = table.concat(parts)

local function split_fields()
  local out = {}
  for f in string.gmatch(text, "([^,\n]*)[,\n]") do out[#out + 1] = f end
  return #out
end

local function count_fields()
  local n = 0
  for _ in string.gmatch(text, "[^,\n]+") do n = n + 1 end
  return n
end

for _, case in ipairs({{"split_fields", split_fields}, {"count_fields", count_fields}}) do
  local best = math.huge
  local n
  for _ = 1, 5 do
    local t0 = os.clock()
    n = case[2]()
    best = math.min(best, os.clock() - t0)
  end
  print(string.format("%-13s %d fields  %.1f ms  (%.1f MB)", case[1], n, best * 1000, #text / 1e6))
end
