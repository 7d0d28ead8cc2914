#version 330 core
layout(location = 0) in float pos_x;
layout(location = 1) in float pos_y;

uniform vec3 scaling;
uniform vec3 offset;

void main()
{
    gl_Position = vec4(pos_x, pos_y * scaling.y + offset.y, 0.0, 1.0);
}
