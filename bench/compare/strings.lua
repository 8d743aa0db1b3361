local parts, n = {}, 0
for i = 1, 1000000 do
  parts[n + 1] = tostring(i)
  parts[n + 2] = ","
  n = n + 2
end
print(#table.concat(parts))
