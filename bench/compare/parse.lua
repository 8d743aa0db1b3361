local parts = {}
for i = 1, 100000 do
  parts[#parts + 1] = "row" .. i .. ",alpha beta," .. (i & 1023) .. ",3.5,last field\n"
end
local text = table.concat(parts)
local n = 0
for f in string.gmatch(text, "([^,\n]*)[,\n]") do n = n + 1 end
print(#text, n)
