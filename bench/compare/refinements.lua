local function f(a, scale, shift)
  if scale then a = a * scale end
  if shift then a = a + shift end
  return a
end
local s = 0
for i = 1, 1000000 do
  local a = i & 7
  s = s + f(a) + f(a, 3) + f(a, 3, 1)
end
print(s)
