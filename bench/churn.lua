-- The work of churn.zot in Lua: a million rounds of building a string, a
-- list holding it and a table holding both, each dropping the last round's.
local o
for n = 0, 999999 do
  local s = "a string that is built and dropped " .. n
  local b = {s, n, {"a", "nested", "block"}, s .. ""}
  o = {text = s, items = b, count = n}
end
print(o.count)
