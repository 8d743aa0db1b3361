local m, n = {}, 0
for i = 1, 300000 do m[i * 7] = i & 1023; n = n + 1 end
local s = 0
for i = 1, 300000 do s = s + m[i * 7] end
print(n, s)
